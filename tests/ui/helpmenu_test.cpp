#include "widgets/helpmenu.h"

#include "core/appinfo.h"
#include "support/scripteddialogs.h"
#include "support/testapp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

TEST(HelpMenuTest, AboutShowsNameVersionAndOriginInOneInformationBox)
{
    ensureApp();
    ScriptedDialogs dialogs;
    HelpMenu help(dialogs);
    help.MyHelp_Click(2);

    ASSERT_EQ(dialogs.calls().size(), 1);
    const ScriptedDialogs::Call &about = dialogs.calls().first();
    EXPECT_EQ(about.kind, ScriptedDialogs::Kind::Message);
    EXPECT_EQ(about.style, 64);
    EXPECT_EQ(about.title, u"串口调试终端"_s);
    // Name line, origin line, then two empty line ends.
    const QStringList lines = about.text.split(u"\r\n"_s);
    ASSERT_EQ(lines.size(), 4) << about.text.toStdString();
    EXPECT_EQ(lines.at(0), u"程序名称: velmir-rs232 "_s + AppInfo::version());
    // Where the guide is and the licence, not a placeholder in English.
    EXPECT_TRUE(lines.at(1).startsWith(u"用户指南: "_s)) << lines.at(1).toStdString();
    EXPECT_TRUE(lines.at(1).contains(u"许可证: "_s)) << lines.at(1).toStdString();
    EXPECT_TRUE(lines.at(2).isEmpty() && lines.at(3).isEmpty());
    // No made-up address: the program has no web site or mailbox of its own.
    EXPECT_FALSE(about.text.contains(u"http"_s) || about.text.contains(u'@'));
}

TEST(HelpMenuTest, HelpWithoutAGuideSaysWhereItBelongsAndTheSeparatorDoesNothing)
{
    ensureApp();
    ScriptedDialogs dialogs;
    HelpMenu help(dialogs);
    // The test executable sits in build/tests, where neither guide lies beside it.
    ASSERT_TRUE(HelpMenu::findUserGuide(QCoreApplication::applicationDirPath()).isEmpty());
    help.MyHelp_Click(1);
    EXPECT_TRUE(dialogs.calls().isEmpty());
    // Silence here left the user wondering whether the menu item works at all.
    help.MyHelp_Click(0);
    ASSERT_EQ(dialogs.calls().size(), 1);
    EXPECT_EQ(dialogs.calls().first().style, 48);
    EXPECT_TRUE(dialogs.calls().first().text.contains(u"share/doc/velmir-rs232/guide.html"_s));
    EXPECT_TRUE(dialogs.calls().first().text.contains(u"docs/guide.md"_s));
}

TEST(HelpMenuTest, GuideIsFoundBesideAnInstalledProgram)
{
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const QDir root(prefix.path());
    ASSERT_TRUE(root.mkpath(u"bin"_s) && root.mkpath(u"share/doc/velmir-rs232"_s));
    const QString bin = root.filePath(u"bin"_s);
    const auto touch = [&](const QString &name) {
        QFile file(root.filePath(u"share/doc/velmir-rs232/"_s + name));
        return file.open(QIODevice::WriteOnly);
    };

    EXPECT_TRUE(HelpMenu::findUserGuide(bin).isEmpty());
    ASSERT_TRUE(touch(u"guide.md"_s));
    EXPECT_TRUE(HelpMenu::findUserGuide(bin).endsWith(u"/share/doc/velmir-rs232/guide.md"_s));
    // The formatted guide is preferred over its source.
    ASSERT_TRUE(touch(u"guide.html"_s));
    EXPECT_TRUE(HelpMenu::findUserGuide(bin).endsWith(u"/share/doc/velmir-rs232/guide.html"_s));
}

TEST(HelpMenuTest, GuideIsFoundInTheSourceTreeOfABuildFolder)
{
    QTemporaryDir source;
    ASSERT_TRUE(source.isValid());
    const QDir root(source.path());
    ASSERT_TRUE(root.mkpath(u"build"_s) && root.mkpath(u"docs"_s));
    const QString build = root.filePath(u"build"_s);
    EXPECT_TRUE(HelpMenu::findUserGuide(build).isEmpty());
    QFile guide(root.filePath(u"docs/guide.md"_s));
    ASSERT_TRUE(guide.open(QIODevice::WriteOnly));
    EXPECT_EQ(HelpMenu::findUserGuide(build), QFileInfo(guide).canonicalFilePath());
}

} // namespace
