#include "widgets/helpmenu.h"

#include "core/appinfo.h"
#include "widgets/guidewindow.h"
#include "support/scripteddialogs.h"
#include "support/testapp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QDeadlineTimer>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

TEST(HelpMenuTest, AboutShowsNameVersionAndOriginInOneInformationBox)
{
    ensureApp();
    ScriptedDialogs dialogs;
    HelpMenu help(dialogs);
    help.showAbout();

    ASSERT_EQ(dialogs.calls().size(), 1);
    const ScriptedDialogs::Call &about = dialogs.calls().first();
    EXPECT_EQ(about.kind, ScriptedDialogs::Kind::Message);
    EXPECT_EQ(about.style, Dialogs::Information);
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

TEST(HelpMenuTest, HelpWithoutAGuideSaysWhereItBelongs)
{
    ensureApp();
    ScriptedDialogs dialogs;
    HelpMenu help(dialogs);
    // The test executable sits in build/tests, where neither guide lies beside it.
    ASSERT_TRUE(HelpMenu::findUserGuide(QCoreApplication::applicationDirPath()).isEmpty());
    // Silence here left the user wondering whether the menu item works at all.
    help.showUserGuide();
    ASSERT_EQ(dialogs.calls().size(), 1);
    EXPECT_EQ(dialogs.calls().first().style, Dialogs::Warning);
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

// The guide as installed: the Markdown of the source tree, and the HTML the build renders from
// it where pandoc is there. Every picture must load and every link between sections must lead
// to a heading, in both forms.
TEST(HelpMenuTest, HelpShowsTheGuideInAWindowWithItsPicturesLinksAndFind)
{
    ensureApp();
    const QDir docs(QStringLiteral(VELMIR_TEST_DATA) + u"/../../docs"_s);
    const QString rendered
            = QDir(QCoreApplication::applicationDirPath()).filePath(u"../doc/guide.html"_s);
    QStringList guides{docs.filePath(u"guide.md"_s)};
    if (QFileInfo::exists(rendered))
        guides.append(rendered);
    for (const QString &source : guides) {
        SCOPED_TRACE(source.toStdString());
        QTemporaryDir prefix;
        ASSERT_TRUE(prefix.isValid());
        const QDir root(prefix.path());
        const QString doc = u"share/doc/velmir-rs232"_s;
        ASSERT_TRUE(root.mkpath(u"bin"_s) && root.mkpath(doc + u"/images"_s));
        ASSERT_TRUE(QFile::copy(source,
                                root.filePath(doc + u"/guide."_s + QFileInfo(source).suffix())));
        for (const QFileInfo &png : QDir(docs.filePath(u"images"_s)).entryInfoList({u"*.png"_s}))
            ASSERT_TRUE(QFile::copy(png.filePath(),
                                    root.filePath(doc + u"/images/"_s + png.fileName())));

        ScriptedDialogs dialogs;
        HelpMenu help(dialogs, nullptr, root.filePath(u"bin"_s));
        help.showUserGuide();
        EXPECT_TRUE(dialogs.calls().isEmpty());
        GuideWindow *window = help.guideWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        QTextDocument &document = *window->browser().document();
        EXPECT_TRUE(document.toPlainText().contains(u"连接设备"_s));

        QStringList pictures;
        QSet<QString> anchors;
        QStringList links;
        int linkAt = -1;
        int headingAt = -1;
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat format = it.fragment().charFormat();
                if (format.isImageFormat())
                    pictures.append(format.toImageFormat().name());
                for (const QString &name : format.anchorNames())
                    anchors.insert(name);
                if (format.isAnchor() && format.anchorHref().startsWith(u'#')) {
                    links.append(format.anchorHref().mid(1));
                    if (links.last() == u"连接设备"_s && linkAt < 0)
                        linkAt = it.fragment().position();
                }
                if (block.text() == u"连接设备"_s)
                    headingAt = block.position();
            }
        }
        // Terminal, settings, hex mode, tools menu, help window, send panel.
        EXPECT_EQ(pictures.size(), 6);
        for (const QString &picture : pictures) {
            const QVariant data = document.resource(QTextDocument::ImageResource, QUrl(picture));
            const QImage image = data.typeId() == QMetaType::QByteArray
                                         ? QImage::fromData(data.toByteArray())
                                         : qvariant_cast<QImage>(data);
            EXPECT_FALSE(image.isNull()) << "picture not shown: " << picture.toStdString();
        }
        EXPECT_GE(links.size(), 2);
        for (const QString &link : links)
            EXPECT_TRUE(anchors.contains(link)) << "link leads nowhere: #" << link.toStdString();

        // A click on a link moves the guide to that section.
        ASSERT_GE(linkAt, 0);
        ASSERT_GE(headingAt, 0);
        QTextBrowser &browser = window->browser();
        QTextCursor link(&document);
        link.setPosition(linkAt + 1);
        browser.setTextCursor(link);
        browser.ensureCursorVisible();
        QTest::mouseClick(browser.viewport(), Qt::LeftButton, {}, browser.cursorRect().center());
        QTextCursor heading(&document);
        heading.setPosition(headingAt);
        const auto headingOnTop = [&] {
            const int top = browser.cursorRect(heading).top();
            return top >= 0 && top < browser.viewport()->height() / 4;
        };
        QDeadlineTimer moved(10000);
        while (!headingOnTop() && !moved.hasExpired())
            QTest::qWait(10);
        EXPECT_TRUE(headingOnTop()) << browser.cursorRect(heading).top();

        EXPECT_TRUE(window->find(u"dialout"_s));
        EXPECT_EQ(window->browser().textCursor().selectedText(), u"dialout"_s);
        EXPECT_FALSE(window->find(u"no such words anywhere"_s));
    }
}

} // namespace
