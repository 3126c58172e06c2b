#include "widgets/helpmenu.h"

#include "core/appinfo.h"
#include "core/dialogs.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

constexpr int ItemHelp = 0;
constexpr int ItemAbout = 2;

} // namespace

HelpMenu::HelpMenu(Dialogs &dialogs)
    : m_dialogs(dialogs)
{}

void HelpMenu::MyHelp_Click(int index)
{
    switch (index) {
    case ItemHelp:
        showUserGuide();
        break;
    case ItemAbout:
        m_dialogs.message(aboutText(), Dialogs::Information, aboutTitle());
        break;
    default:
        break;
    }
}

QString HelpMenu::aboutTitle()
{
    return u"串口调试终端"_s;
}

QString HelpMenu::aboutText()
{
    const QString guide = findUserGuide(QCoreApplication::applicationDirPath());
    // The source tree states no licence yet, and the box says so rather than guess one.
    return u"程序名称: velmir-rs232 "_s + AppInfo::version() + u"\r\n"_s + u"用户指南: "_s
           + (guide.isEmpty() ? u"未找到"_s : QDir::toNativeSeparators(guide))
           + u"    许可证: 未声明"_s + u"\r\n\r\n"_s;
}

QString HelpMenu::findUserGuide(const QString &appDir)
{
    // Installed as <prefix>/bin/velmir-rs232 beside <prefix>/share/doc/velmir-rs232/; built
    // as <source>/build/velmir-rs232 beside <source>/docs/.
    const QString candidates[] = {
            appDir + u"/../share/doc/velmir-rs232/guide.html"_s,
            appDir + u"/../share/doc/velmir-rs232/guide.md"_s,
            appDir + u"/../docs/guide.md"_s,
    };
    for (const QString &candidate : candidates) {
        const QFileInfo guide(candidate);
        if (guide.isFile())
            return guide.canonicalFilePath();
    }
    return QString();
}

void HelpMenu::showUserGuide()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    const QString guide = findUserGuide(appDir);
    if (guide.isEmpty()) {
        const QString installed
                = QDir::cleanPath(appDir + u"/../share/doc/velmir-rs232/guide.html"_s);
        m_dialogs.message(u"找不到用户指南。安装后它在 %1, 源代码中它是 docs/guide.md。"_s.arg(
                                  QDir::toNativeSeparators(installed)),
                          Dialogs::Exclamation);
        return;
    }
    // Without a viewer the user would see nothing at all; say where the guide lies instead.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(guide)))
        m_dialogs.message(u"无法打开帮助文件: "_s + QDir::toNativeSeparators(guide),
                          Dialogs::Exclamation);
}
