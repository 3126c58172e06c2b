#pragma once

#include "platform/terminalbox.h"

#include <QWidget>

class CommPort;
class Menus;

// The terminal: a text box written only at its end. Typed characters go to the end, the
// keyboard cannot move the caret or join lines, and Enter sends the last line.
//
// How the terminal pieces fit: this window turns keys into lines and hands them to Convert,
// which uses convertLine (lineconvert.h) to make the bytes and writes the count annotation;
// ReceiveHandler (receivehandler.h) renders what arrives, as text through ReceiveDecoder or as
// hex dump lines (hextext.h). All of them write through the one TerminalBox.
class TerminalWindow : public QWidget, public TerminalBox::KeyHandler
{
    Q_OBJECT

public:
    TerminalWindow(CommPort &port, Menus &menus, QWidget *parent = nullptr);

    TerminalBox &box() { return *m_RBox; }

    void Form_Load();
    void Form_Resize();
    void Convert(const QString &line);

    // Key handling of the box.
    void keyDown(int &keyCode, int shift) override;
    void keyPress(int &keyAscii) override;
    void pasteText(const QString &text) override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    CommPort &m_port;
    Menus &m_menus;
    TerminalBox *m_RBox = nullptr;
};
