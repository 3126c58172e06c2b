#include "status/helpmenu.h"

#include "platform/appinfo.h"
#include "platform/dialogs.h"

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
    return u"程序名称: velmir-rs232 "_s + AppInfo::version() + u"\r\n"_s
           + u"项目主页: see the README of the velmir-rs232 source tree"_s + u"\r\n\r\n"_s;
}

QString HelpMenu::findUserGuide(const QString &appDir)
{
    // Installed as <prefix>/bin/velmir-rs232 beside <prefix>/share/doc/velmir-rs232/.
    const QDir docDir(appDir + u"/../share/doc/velmir-rs232"_s);
    for (const QString &name : {u"guide.html"_s, u"guide.md"_s}) {
        const QFileInfo guide(docDir.filePath(name));
        if (guide.isFile())
            return guide.canonicalFilePath();
    }
    return QString();
}

void HelpMenu::showUserGuide()
{
    const QString guide = findUserGuide(QCoreApplication::applicationDirPath());
    if (guide.isEmpty())
        return;
    // Without a viewer the user would see nothing at all; say where the guide lies instead.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(guide)))
        m_dialogs.message(u"无法打开帮助文件: "_s + QDir::toNativeSeparators(guide),
                          Dialogs::Exclamation);
}
