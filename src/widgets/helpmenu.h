#pragma once

#include <QString>

class Dialogs;

// The help menu: the user guide, installed or in the source tree, and the about box.
class HelpMenu
{
public:
    explicit HelpMenu(Dialogs &dialogs);

    // 0 help, 1 the separator, 2 about.
    void MyHelp_Click(int index);

    static QString aboutTitle();
    static QString aboutText();
    // The user guide for a program in appDir: installed beside it, or in the source tree of
    // a build folder; empty when there is none.
    static QString findUserGuide(const QString &appDir);

private:
    void showUserGuide();

    Dialogs &m_dialogs;
};
