#include "support/mainwindowfixture.h"

#include <QScreen>

#include <gtest/gtest.h>

namespace {

using WindowGeometryTest = MainWindowFixture;

// The window opens over the whole screen; restoring it used to keep that size, with the title
// bar above the top of the screen once a window manager added its frame.
TEST_F(WindowGeometryTest, RestoringTheMaximizedWindowGivesTheDesignSizeOnScreen)
{
    startWindow();
    ASSERT_TRUE(m_window->isMaximized());
    const QRect screen = m_window->screen()->availableGeometry();

    m_window->showNormal();
    EXPECT_EQ(m_window->size(), QSize(479, 382));
    EXPECT_TRUE(screen.contains(m_window->frameGeometry()))
            << "frame at " << m_window->frameGeometry().x() << "," << m_window->frameGeometry().y();

    // And again after maximizing once more.
    m_window->showMaximized();
    m_window->showNormal();
    EXPECT_EQ(m_window->size(), QSize(479, 382));
}

} // namespace
