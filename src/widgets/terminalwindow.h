#pragma once

#include "core/textencoding.h"
#include "widgets/terminalbox.h"

#include <QWidget>

#include <functional>

class CommPort;
class Switches;

// The terminal: a text box written only at its end. Typed characters go to the end, the
// keyboard cannot move the caret or join lines, and Enter sends what was typed on the last line.
//
// How the terminal pieces fit: this window turns keys into lines and hands the typed part of the
// last line to sendTypedLine, which uses convertLine (lineconvert.h) to make the bytes and writes
// the count annotation. Data from the line flows one way: the port hands each chunk to
// ReceiveHandler (receivehandler.h), whose ReceivePipeline (receivepipeline.h) captures it and
// turns it into coloured runs, as text through ReceiveDecoder or as hex dump lines (hextext.h),
// which the one TerminalBox appends at its end.
class TerminalWindow : public QWidget, public TerminalBox::KeyHandler
{
    Q_OBJECT

public:
    TerminalWindow(CommPort &port, Switches &switches, QWidget *parent = nullptr);

    TerminalBox &box() { return *m_box; }

    void setTextMargin();
    // Keeps the box inside the window with a margin, for the window's outer size.
    void layOutBox();
    void sendTypedLine(const QString &line);
    // What typed lines are encoded in.
    void setEncoding(TextEncoding encoding) { m_encoding = encoding; }
    // Asked on each Enter: a reason, while typed lines must not go out (a job streams on the
    // line), or empty.
    void setTypedLineRefusal(std::function<QString()> refusal) { m_refusal = std::move(refusal); }

    // Key handling of the box.
    void keyDown(int &keyCode, int shift) override;
    void keyPress(int &keyAscii) override;
    void pasteText(const QString &text) override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    CommPort &m_port;
    Switches &m_switches;
    TerminalBox *m_box = nullptr;
    TextEncoding m_encoding = TextEncoding::Gbk;
    std::function<QString()> m_refusal;
};
