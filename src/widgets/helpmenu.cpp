#include "widgets/helpmenu.h"

#include "core/appinfo.h"
#include "core/dialogs.h"
#include "core/messages.h"
#include "widgets/guidewindow.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace {

// Whether window is top or one of the windows that belong to it (dialogs, the plot window).
bool belongsTo(const QWidget *window, const QWidget *top)
{
    for (const QWidget *w = window; w; w = w->parentWidget()) {
        if (w == top)
            return true;
    }
    return false;
}

// Sees F1 before any widget does, in every window, modal dialogs included, which a shortcut of
// the main window's would not reach.
class HelpKey : public QObject
{
public:
    HelpKey(HelpMenu &help, QWidget *top)
        : m_help(help)
        , m_top(top)
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier)
            return false;
        QWidget *window = static_cast<QWidget *>(watched)->window();
        if (!m_top || !belongsTo(window, m_top))
            return false;
        m_help.showGuideFor(window);
        return true;
    }

private:
    HelpMenu &m_help;
    QPointer<QWidget> m_top;
};

} // namespace

HelpMenu::HelpMenu(Dialogs &dialogs, QWidget *parent, const QString &appDir)
    : m_dialogs(dialogs)
    , m_parent(parent)
    , m_appDir(appDir)
{
    if (m_parent)
        m_helpKey = std::make_unique<HelpKey>(*this, m_parent);
}

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

void HelpMenu::showGuideFor(QWidget *window)
{
    // The guide's own window has no section of its own: F1 there only brings it forward.
    QString section;
    for (const QWidget *w = window; w && section.isEmpty(); w = w->parentWidget())
        section = w->property(sectionProperty()).toString();
    QWidget *modal = QApplication::activeModalWidget();
    showGuideAt(section, modal && belongsTo(window, modal) ? modal : nullptr);
}

void HelpMenu::showUserGuide()
{
    showGuideAt(QString(), nullptr);
}

void HelpMenu::showGuideAt(const QString &section, QWidget *modalOwner)
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
    QPointer<GuideWindow> &window = modalOwner ? m_modalGuide : m_guide;
    if (modalOwner && window && window->parentWidget() != modalOwner)
        delete window.data();
    if (!window)
        window = new GuideWindow(modalOwner ? modalOwner : m_parent);
    // Read anew each time, so a guide replaced by an update is the one shown.
    if (!window->load(guide)) {
        m_dialogs.message(Messages::userGuideUnreadable(QDir::toNativeSeparators(guide)),
                          Dialogs::Warning);
        return;
    }
    window->show();
    if (!section.isEmpty())
        window->showSection(section);
    window->raise();
    window->activateWindow();
}
