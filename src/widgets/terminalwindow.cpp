#include "widgets/terminalwindow.h"

#include "core/commport.h"
#include "widgets/keymap.h"
#include "core/switches.h"
#include "core/colors.h"
#include "core/lineconvert.h"

#include <QMdiSubWindow>
#include <QTextDocument>

#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;

namespace {

// Keys that would move the caret or act on the text in ways a line editor written at its end
// cannot allow.
constexpr std::array<int, 14> CancelledKeys = {
        KeyMap::Pause,    KeyMap::ScrollLock, KeyMap::Home,  KeyMap::Delete,  KeyMap::PageUp,
        KeyMap::PageDown, KeyMap::End,        KeyMap::Tab,   KeyMap::Escape,  KeyMap::Up,
        KeyMap::Left,     KeyMap::Right,      KeyMap::Shift, KeyMap::Control,
};

} // namespace

TerminalWindow::TerminalWindow(CommPort &port, Switches &switches, QWidget *parent)
    : QWidget(parent)
    , m_port(port)
    , m_switches(switches)
{
    setObjectName(u"TerminalWindow"_s);
    setWindowTitle(u"终端窗口"_s);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(TerminalColors::WindowBackground));
    p.setColor(QPalette::WindowText, QColor(0, 64, 64));
    setPalette(p);
    QFont f(u"Arial"_s);
    f.setPointSizeF(9.75);
    setFont(f);

    m_box = new TerminalBox(this);
    m_box->setObjectName(u"TerminalBox"_s);
    m_box->setKeyHandler(this);
    m_box->setGeometry(69, 33, 169, 153);
    setFocusProxy(m_box);
}

void TerminalWindow::setTextMargin()
{
    // A small margin of five and a third pixels beside the text.
    m_box->document()->setDocumentMargin(16.0 / 3.0);
}

void TerminalWindow::layOutBox()
{
    // The layout rule is written for the window's outer size; inside the main window that is
    // the frame of the child window.
    const QWidget *outer = qobject_cast<QMdiSubWindow *>(parentWidget());
    const QSize size = outer ? outer->size() : frameGeometry().size();
    m_box->setGeometry(6, 6, std::max(size.width() - 24, 0), std::max(size.height() - 57, 0));
}

void TerminalWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layOutBox();
}

void TerminalWindow::keyDown(int &keyCode, int /*shift*/)
{
    if ((keyCode >= KeyMap::F2 && keyCode <= KeyMap::F12)
        || std::find(CancelledKeys.begin(), CancelledKeys.end(), keyCode) != CancelledKeys.end()) {
        keyCode = KeyMap::NoKey;
        return;
    }
    if (keyCode == KeyMap::Backspace) {
        // A line break before the caret keeps its place: sent and received lines never join.
        const qsizetype caret = m_box->selStart();
        if (caret > 1) {
            if (m_box->charAt(caret - 1) == u'\n' || m_box->charAt(caret - 2) == u'\r') {
                keyCode = KeyMap::NoKey;
            }
        }
        return;
    }
    if (keyCode == KeyMap::Down) {
        m_box->moveCaretToEnd();
        m_box->insertText(u"\r\n"_s);
        keyCode = KeyMap::NoKey;
    }
}

void TerminalWindow::keyPress(int &keyAscii)
{
    m_box->moveCaretToEnd();
    m_box->setSelReceived(false);
    m_box->setSelColor(TerminalColors::Typed);
    if (keyAscii == KeyMap::TypedEnter) {
        // Only what the user typed goes out: a prompt the device printed on this line, or bytes
        // that arrived while typing, are the device's and would only confuse it.
        sendTypedLine(m_box->lastTypedLine());
    }
}

void TerminalWindow::pasteText(const QString &text)
{
    // Pasted text is placed like typed text and waits for Enter like typed text.
    m_box->moveCaretToEnd();
    m_box->setSelReceived(false);
    m_box->setSelColor(TerminalColors::Typed);
    m_box->insertText(text);
}

void TerminalWindow::sendTypedLine(const QString &line)
{
    const ConvertedLine converted
            = convertLine(line, m_switches.checked(Switches::SendCr), m_encoding);

    m_box->setSelReceived(false);
    m_box->setSelColor(TerminalColors::Count);
    m_box->moveCaretToEnd();
    m_box->insertText(u" : "_s + QString::number(converted.count) + u" 字符 "_s);

    m_box->setSelColor(TerminalColors::Notice);
    if (!m_port.portOpen()) {
        m_box->insertText(u" (端口未打开! )"_s);
    }
    // Refused, not held for later: a line that goes out when the job ends, maybe minutes on,
    // meets a device in another state than the one it was typed for.
    const QString refused = m_port.portOpen() && m_refusal ? m_refusal() : QString();
    if (!refused.isEmpty()) {
        m_box->insertText(u" ("_s + refused + u")"_s);
    } else if (m_port.portOpen()) {
        const Result sent = m_port.output(converted.bytes);
        if (!sent.ok()) {
            m_box->insertText(u" ("_s + sent.message() + u")"_s);
        }
    }
    m_box->moveCaretToEnd();
}
