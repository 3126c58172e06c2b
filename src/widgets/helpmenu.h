#pragma once

#include <QPointer>
#include <QString>

#include <memory>

class Dialogs;
class GuideWindow;
class QObject;
class QWidget;

// The help menu: the user guide in a window of its own, found installed, in a build folder or
// in the source tree, and the about box. F1 in any window of the parent's opens the guide at the
// section that window names in its "guideSection" property.
class HelpMenu
{
public:
    // appDir is where the program lies, where the guide is looked for; empty for the running
    // program's own folder. The guide's window belongs to parent.
    explicit HelpMenu(Dialogs &dialogs, QWidget *parent = nullptr, const QString &appDir = {});
    ~HelpMenu();

    // The user guide in its window, or a box that says where it belongs.
    void showUserGuide();
    void showAbout();

    static QString aboutTitle();
    static QString aboutText();
    // The user guide for a program in appDir: installed beside it, rendered in its build
    // folder, or in the source tree of a build folder; empty when there is none.
    static QString findUserGuide(const QString &appDir);

    // The guide's window, once help has been asked for.
    GuideWindow *guideWindow() const;

    // What F1 does in this window: the guide at the section it (or a window it belongs to)
    // names, else at the start. Over a modal dialog the guide is a window of the dialog's own,
    // which the dialog's modality leaves usable.
    void showGuideFor(QWidget *window);
    // The name of the property by which a window names its section of the guide.
    static const char *sectionProperty() { return "guideSection"; }

private:
    void showGuideAt(const QString &section, QWidget *modalOwner);

    Dialogs &m_dialogs;
    QWidget *m_parent;
    QString m_appDir;
    QPointer<GuideWindow> m_guide;
    // The guide opened over a modal dialog, gone with the dialog.
    QPointer<GuideWindow> m_modalGuide;
    std::unique_ptr<QObject> m_helpKey;
};
