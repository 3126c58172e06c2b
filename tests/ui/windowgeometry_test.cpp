#include "support/mainwindowfixture.h"

#include "widgets/terminalwindow.h"

#include <QMdiSubWindow>
#include <QScreen>

#include <gtest/gtest.h>

namespace {

using WindowGeometryTest = MainWindowFixture;

// The window opens over the whole screen; restoring it used to keep that size, with the title
// bar above the top of the screen once a window manager added its frame.
TEST_F(WindowGeometryTest, RestoringTheMaximizedWindowGivesTheNormalSizeOnScreen)
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

// The box keeps its margin inside the terminal's child window when that is resized: 6 pixels
// left and top, 18 right, 51 below.
TEST_F(WindowGeometryTest, TheTerminalBoxFollowsItsChildWindow)
{
    startWindow();
    auto *frame = qobject_cast<QMdiSubWindow *>(m_window->terminal().parentWidget());
    ASSERT_NE(frame, nullptr);
    frame->showNormal();
    frame->resize(300, 200);
    EXPECT_EQ(m_window->terminal().box().geometry(), QRect(6, 6, 276, 143));
    frame->resize(420, 260);
    EXPECT_EQ(m_window->terminal().box().geometry(), QRect(6, 6, 396, 203));
}

} // namespace
