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

constexpr int TwipsPerPixel = 15;

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
    setObjectName(u"Form1"_s);
    setWindowTitle(u"终端窗口"_s);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(TerminalColors::WindowBackground));
    p.setColor(QPalette::WindowText, QColor(0, 64, 64));
    setPalette(p);
    QFont f(u"Arial"_s);
    f.setPointSizeF(9.75);
    setFont(f);

    m_RBox = new TerminalBox(this);
    m_RBox->setObjectName(u"RBox"_s);
    m_RBox->setKeyHandler(this);
    m_RBox->moveTwips(1035, 495, 2535, 2295);
    setFocusProxy(m_RBox);
}

void TerminalWindow::Form_Load()
{
    // A small margin of 80 twips beside the text.
    m_RBox->document()->setDocumentMargin(80.0 / TwipsPerPixel);
}

void TerminalWindow::Form_Resize()
{
    // The layout rule is written for the window's outer size; inside the main window that is
    // the frame of the child window.
    const QWidget *outer = qobject_cast<QMdiSubWindow *>(parentWidget());
    const QSize size = outer ? outer->size() : frameGeometry().size();
    const int width = size.width() * TwipsPerPixel;
    const int height = size.height() * TwipsPerPixel;
    m_RBox->moveTwips(100, 100, width - 350, height > 800 ? height - 850 : 0);
}

void TerminalWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
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
        const qsizetype caret = m_RBox->selStart();
        if (caret > 1) {
            if (m_RBox->charAt(caret - 1) == u'\n' || m_RBox->charAt(caret - 2) == u'\r') {
                keyCode = KeyMap::NoKey;
            }
        }
        return;
    }
    if (keyCode == KeyMap::Down) {
        m_RBox->moveCaretToEnd();
        m_RBox->insertText(u"\r\n"_s);
        keyCode = KeyMap::NoKey;
    }
}

void TerminalWindow::keyPress(int &keyAscii)
{
    m_RBox->moveCaretToEnd();
    m_RBox->setSelReceived(false);
    m_RBox->setSelColor(TerminalColors::Typed);
    if (keyAscii == KeyMap::TypedEnter) {
        // Only what the user typed goes out: a prompt the device printed on this line, or bytes
        // that arrived while typing, are the device's and would only confuse it.
        Convert(m_RBox->lastTypedLine());
    }
}

void TerminalWindow::pasteText(const QString &text)
{
    // Pasted text is placed like typed text and waits for Enter like typed text.
    m_RBox->moveCaretToEnd();
    m_RBox->setSelReceived(false);
    m_RBox->setSelColor(TerminalColors::Typed);
    m_RBox->insertText(text);
}

void TerminalWindow::Convert(const QString &line)
{
    const ConvertedLine converted = convertLine(line, m_switches.checked(Switches::SendCr));

    m_RBox->setSelReceived(false);
    m_RBox->setSelColor(TerminalColors::Count);
    m_RBox->moveCaretToEnd();
    m_RBox->insertText(u" : "_s + QString::number(converted.count) + u" 字符 "_s);

    m_RBox->setSelColor(TerminalColors::Notice);
    if (!m_port.portOpen()) {
        m_RBox->insertText(u" (端口未打开! )"_s);
    }
    if (m_port.portOpen()) {
        const Result sent = m_port.output(converted.bytes);
        if (!sent.ok()) {
            m_RBox->insertText(u" ("_s + sent.message() + u")"_s);
        } else {
            Q_EMIT lineSent(line, m_switches.checked(Switches::SendCr));
        }
    }
    m_RBox->moveCaretToEnd();
}
