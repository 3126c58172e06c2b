#include "widgets/helpmenu.h"

#include "core/appinfo.h"
#include "core/dialogs.h"
#include "core/messages.h"
#include "widgets/guidewindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

HelpMenu::HelpMenu(Dialogs &dialogs, QWidget *parent, const QString &appDir)
    : m_dialogs(dialogs)
    , m_parent(parent)
    , m_appDir(appDir)
{}

HelpMenu::~HelpMenu()
{
    // Without a parent the window is ours alone.
    if (!m_parent)
        delete m_guide.data();
}

GuideWindow *HelpMenu::guideWindow() const
{
    return m_guide.data();
}

void HelpMenu::showAbout()
{
    m_dialogs.message(aboutText(), Dialogs::Information, aboutTitle());
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
    // as <build>/velmir-rs232 beside the guide rendered in <build>/doc/, and, where that is
    // not, as <source>/build/velmir-rs232 beside <source>/docs/.
    const QString candidates[] = {
            appDir + u"/../share/doc/velmir-rs232/guide.html"_s,
            appDir + u"/../share/doc/velmir-rs232/guide.md"_s,
            appDir + u"/doc/guide.html"_s,
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
    const QString appDir = m_appDir.isEmpty() ? QCoreApplication::applicationDirPath() : m_appDir;
    const QString guide = findUserGuide(appDir);
    if (guide.isEmpty()) {
        const QString installed
                = QDir::cleanPath(appDir + u"/../share/doc/velmir-rs232/guide.html"_s);
        m_dialogs.message(
                Messages::userGuideMissing(QDir::toNativeSeparators(installed), u"docs/guide.md"_s),
                Dialogs::Warning);
        return;
    }
    if (!m_guide)
        m_guide = new GuideWindow(m_parent);
    // Read anew each time, so a guide replaced by an update is the one shown.
    if (!m_guide->load(guide)) {
        m_dialogs.message(Messages::userGuideUnreadable(QDir::toNativeSeparators(guide)),
                          Dialogs::Warning);
        return;
    }
    m_guide->show();
    m_guide->raise();
    m_guide->activateWindow();
}
