// F1 opens the user guide at the section of the window that has the key: the main window, the
// modal settings dialog (whose modality must not leave the guide unusable), a window of its own.

#include "widgets/guidewindow.h"
#include "widgets/helpmenu.h"
#include "widgets/settingsdialog.h"
#include "support/memorysettingsstore.h"
#include "support/scripteddialogs.h"
#include "support/testapp.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// Whether the heading's line stands in the top quarter of the guide's view.
bool headingOnTop(GuideWindow &guide, const QString &heading)
{
    QTextBrowser &browser = guide.browser();
    for (QTextBlock block = browser.document()->begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() == 0 || block.text() != heading)
            continue;
        QTextCursor at(browser.document());
        at.setPosition(block.position());
        const int top = browser.cursorRect(at).top();
        return top >= 0 && top < browser.viewport()->height() / 4;
    }
    return false;
}

TEST(HelpKeyTest, F1OpensTheGuideAtTheSectionOfTheWindowWithTheKey)
{
    ensureApp();
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const QDir root(prefix.path());
    ASSERT_TRUE(root.mkpath(u"bin"_s) && root.mkpath(u"share/doc/velmir-rs232"_s));
    ASSERT_TRUE(QFile::copy(QStringLiteral(VELMIR_TEST_DATA) + u"/../../docs/guide.md"_s,
                            root.filePath(u"share/doc/velmir-rs232/guide.md"_s)));

    QWidget main;
    main.setProperty(HelpMenu::sectionProperty(), u"主窗口"_s);
    main.show();
    ScriptedDialogs dialogs;
    HelpMenu help(dialogs, &main, root.filePath(u"bin"_s));

    // A window of the main window's that names its section, as the plot window does.
    QWidget plot(&main, Qt::Window);
    plot.setProperty(HelpMenu::sectionProperty(), u"波形图"_s);
    plot.show();
    QTest::keyClick(&plot, Qt::Key_F1);
    ASSERT_NE(help.guideWindow(), nullptr);
    EXPECT_TRUE(help.guideWindow()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return headingOnTop(*help.guideWindow(), u"波形图"_s); }));

    QTest::keyClick(&main, Qt::Key_F1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return headingOnTop(*help.guideWindow(), u"主窗口"_s); }));

    // Shift+F1 and F1 in a window that is not the main window's are left to others.
    help.guideWindow()->hide();
    QTest::keyClick(&main, Qt::Key_F1, Qt::ShiftModifier);
    QWidget stranger;
    stranger.show();
    QTest::keyClick(&stranger, Qt::Key_F1);
    EXPECT_FALSE(help.guideWindow()->isVisible());

    // The settings dialog blocks every other window while it is open: the guide it opens is a
    // window of its own, so it can be read and scrolled.
    MemorySettingsStore store;
    SettingsDialog settings(store, dialogs, &main);
    settings.setWindowModality(Qt::ApplicationModal);
    settings.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeModalWidget() == &settings; }));
    QTest::keyClick(&settings, Qt::Key_F1);
    auto *overDialog = settings.findChild<GuideWindow *>();
    ASSERT_NE(overDialog, nullptr);
    EXPECT_TRUE(overDialog->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return headingOnTop(*overDialog, u"串口设置"_s); }));
    EXPECT_TRUE(dialogs.calls().isEmpty());
}

} // namespace
