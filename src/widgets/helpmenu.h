#pragma once

#include <QPointer>
#include <QString>

class Dialogs;
class GuideWindow;
class QWidget;

// The help menu: the user guide in a window of its own, found installed, in a build folder or
// in the source tree, and the about box.
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

private:
    Dialogs &m_dialogs;
    QWidget *m_parent;
    QString m_appDir;
    QPointer<GuideWindow> m_guide;
};
