// The terminal's text box on its own: the caret across the seams of long lines, protection of
// received text from the keys, the key events the window sees, paste, reserved shortcuts, what
// the screen shows, and arrivals beside a selection. The text itself is tested without a widget
// in terminaldocument_test.

#include "widgets/terminalbox.h"
#include "support/longline.h"
#include "support/qtprinters.h"
#include "support/testapp.h"
#include "support/textrunprinters.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr QRgb Red = qRgb(255, 0, 0);
constexpr QRgb Yellow = qRgb(192, 192, 0);
constexpr QRgb Teal = qRgb(0, 192, 192);

// A key click as the platform delivers it, shortcut override included, with the event text
// given where it matters.
void pressKey(QWidget *widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
              const QString &text = QString())
{
    QTest::sendKeyEvent(QTest::Click, widget, Qt::Key(key), text, modifiers);
}

// Runs the event loop for a while, frames and painting included.
void runEventsFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QApplication::processEvents();
    }
    // A frame that fell due during a stall still gets painted.
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents();
    }
}

void select(TerminalBox &box, qsizetype from, qsizetype to)
{
    box.setSelStart(to);
    const int end = box.textCursor().position();
    box.setSelStart(from);
    QTextCursor cursor = box.textCursor();
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    box.setTextCursor(cursor);
}

class RecordingHandler : public TerminalBox::KeyHandler
{
public:
    struct Down
    {
        int code;
        int shift;
    };

    void keyDown(int &keyCode, int shift) override
    {
        downs.push_back({keyCode, shift});
        if (cancelAll) {
            keyCode = 0;
        }
    }
    void keyPress(int &keyAscii) override
    {
        presses.push_back(keyAscii);
        if (replacement >= 0) {
            keyAscii = replacement;
        }
        if (caretToEndOf) {
            caretToEndOf->moveCaretToEnd(); // as the terminal window does
        }
    }
    void pasteText(const QString &text) override { pastes.push_back(text); }

    bool cancelAll = false;
    int replacement = -1;
    TerminalBox *caretToEndOf = nullptr;
    std::vector<Down> downs;
    std::vector<int> presses;
    std::vector<QString> pastes;
};

class TerminalBoxTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureApp();
        m_box = std::make_unique<TerminalBox>();
        m_box->resize(400, 300);
    }

    // Text as the receive handler writes it: marked received, in the received colour.
    void receive(const QString &text)
    {
        m_box->setSelReceived(true);
        m_box->setSelColor(Yellow);
        m_box->insertText(text);
        m_box->moveCaretToEnd();
        m_box->setSelReceived(false);
    }

    void typeChars(const QString &text)
    {
        m_box->setSelColor(Teal);
        for (const QChar c : text) {
            pressKey(m_box.get(), c.toUpper().unicode(), Qt::NoModifier, QString(c));
        }
    }

    std::unique_ptr<TerminalBox> m_box;
};

// How a long line reads back lives in terminaldocument_test; here the caret and the clipboard
// cross its seams.
TEST_F(TerminalBoxTest, CaretAndCopyingCrossTheSeamsOfALongLine)
{
    const QString line = longLine(10000);
    m_box->insertText(line);
    EXPECT_EQ(m_box->selStart(), 10000);
    m_box->insertText(u"\r\nnext"_s);
    EXPECT_GT(m_box->document()->blockCount(), 4) << "the line is not kept in short paragraphs";

    for (const qsizetype position : {0, 1, 1023, 1024, 1025, 2048, 5000, 9999, 10000, 10005}) {
        SCOPED_TRACE(position);
        m_box->setSelStart(position);
        EXPECT_EQ(m_box->selStart(), position);
    }

    // Copying joins the pieces too.
    m_box->selectAll();
    m_box->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), line + u"\nnext"_s);
}

TEST_F(TerminalBoxTest, LoadedRunsReplaceTheTextAndLeaveTheCaretAtTheStart)
{
    receive(u"old"_s);
    const TextRuns loaded = {{u"ab"_s, Red, false}, {u"cd\n"_s + longLine(3000), Yellow, true}};
    m_box->setRuns(loaded);
    EXPECT_EQ(m_box->runs(), loaded);
    EXPECT_EQ(m_box->selStart(), 0) << "a loaded document leaves the caret at the start";
}

TEST_F(TerminalBoxTest, BackspaceDeletesTypedTextButNotReceivedTextOrLineBreaks)
{
    receive(u"RX"_s);
    typeChars(u"ab"_s);
    ASSERT_EQ(m_box->text(), u"RXab"_s);
    pressKey(m_box.get(), Qt::Key_Backspace);
    EXPECT_EQ(m_box->text(), u"RXa"_s);
    pressKey(m_box.get(), Qt::Key_Backspace);
    pressKey(m_box.get(), Qt::Key_Backspace);
    EXPECT_EQ(m_box->text(), u"RX"_s) << "received text was deleted";

    m_box->insertText(u"\U0001F600"_s);
    pressKey(m_box.get(), Qt::Key_Backspace);
    EXPECT_EQ(m_box->text(), u"RX"_s) << "half a surrogate pair was left";

    typeChars(u"c"_s);
    pressKey(m_box.get(), Qt::Key_Return);
    pressKey(m_box.get(), Qt::Key_Backspace);
    EXPECT_EQ(m_box->text(), u"RXc\r\n"_s) << "a line break was deleted";

    // Delete does the same after the caret.
    m_box->setSelStart(3);
    pressKey(m_box.get(), Qt::Key_Delete);
    EXPECT_EQ(m_box->text(), u"RXc\r\n"_s);
    m_box->setSelStart(1);
    pressKey(m_box.get(), Qt::Key_Delete);
    EXPECT_EQ(m_box->text(), u"RXc\r\n"_s);
    m_box->setSelStart(2);
    pressKey(m_box.get(), Qt::Key_Delete);
    EXPECT_EQ(m_box->text(), u"RX\r\n"_s);
}

TEST_F(TerminalBoxTest, CutAndTypingRefuseASelectionHoldingReceivedText)
{
    QApplication::clipboard()->setText(u"before"_s);
    receive(u"RX"_s);
    typeChars(u"ab"_s);
    m_box->selectAll();
    pressKey(m_box.get(), Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(m_box->text(), u"RXab"_s);
    EXPECT_EQ(QApplication::clipboard()->text(), u"before"_s) << "a refused cut still copied";
    pressKey(m_box.get(), Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(m_box->text(), u"RXab"_s);
    typeChars(u"z"_s);
    EXPECT_EQ(m_box->text(), u"RXab"_s) << "typing replaced received text";
    pressKey(m_box.get(), Qt::Key_Backspace);
    EXPECT_EQ(m_box->text(), u"RXab"_s);

    // Typed text alone can be cut.
    select(*m_box, 2, 4);
    pressKey(m_box.get(), Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(m_box->text(), u"RX"_s);
    EXPECT_EQ(QApplication::clipboard()->text(), u"ab"_s);
}

TEST_F(TerminalBoxTest, KeysReachKeyDownAsVirtualKeyCodes)
{
    struct Row
    {
        int key;
        Qt::KeyboardModifiers modifiers;
        int code;
        int shift;
    };
    const Row rows[] = {
            {Qt::Key_F1, Qt::NoModifier, 112, 0},
            {Qt::Key_F2, Qt::NoModifier, 113, 0},
            {Qt::Key_F12, Qt::NoModifier, 123, 0},
            {Qt::Key_Pause, Qt::NoModifier, 19, 0},
            {Qt::Key_ScrollLock, Qt::NoModifier, 145, 0},
            {Qt::Key_Home, Qt::NoModifier, 36, 0},
            {Qt::Key_End, Qt::NoModifier, 35, 0},
            {Qt::Key_Delete, Qt::NoModifier, 46, 0},
            {Qt::Key_PageUp, Qt::NoModifier, 33, 0},
            {Qt::Key_PageDown, Qt::NoModifier, 34, 0},
            {Qt::Key_Tab, Qt::NoModifier, 9, 0},
            {Qt::Key_Backtab, Qt::ShiftModifier, 9, 1},
            {Qt::Key_Escape, Qt::NoModifier, 27, 0},
            {Qt::Key_Up, Qt::NoModifier, 38, 0},
            {Qt::Key_Down, Qt::NoModifier, 40, 0},
            {Qt::Key_Left, Qt::NoModifier, 37, 0},
            {Qt::Key_Right, Qt::NoModifier, 39, 0},
            {Qt::Key_Shift, Qt::ShiftModifier, 16, 1},
            {Qt::Key_Control, Qt::ControlModifier, 17, 2},
            {Qt::Key_Insert, Qt::NoModifier, 45, 0},
            {Qt::Key_Return, Qt::NoModifier, 13, 0},
            {Qt::Key_Enter, Qt::KeypadModifier, 13, 0},
            {Qt::Key_Backspace, Qt::NoModifier, 8, 0},
            {Qt::Key_A, Qt::ShiftModifier, 65, 1},
            {Qt::Key_Z, Qt::NoModifier, 90, 0},
            {Qt::Key_0, Qt::NoModifier, 48, 0},
            {Qt::Key_9, Qt::NoModifier, 57, 0},
            {Qt::Key_B, Qt::ControlModifier | Qt::AltModifier, 66, 6},
    };
    RecordingHandler handler;
    handler.cancelAll = true;
    m_box->setKeyHandler(&handler);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.code);
        handler.downs.clear();
        QKeyEvent press(QEvent::KeyPress, row.key, row.modifiers);
        QApplication::sendEvent(m_box.get(), &press);
        ASSERT_EQ(handler.downs.size(), 1u);
        EXPECT_EQ(handler.downs[0].code, row.code);
        EXPECT_EQ(handler.downs[0].shift, row.shift);
    }
}

TEST_F(TerminalBoxTest, ACancelledKeyChangesNothing)
{
    RecordingHandler handler;
    m_box->setKeyHandler(&handler);
    typeChars(u"ab"_s);
    QApplication::clipboard()->setText(u"pasted"_s);
    handler = RecordingHandler();
    handler.cancelAll = true;

    pressKey(m_box.get(), Qt::Key_C, Qt::NoModifier, u"c"_s);
    pressKey(m_box.get(), Qt::Key_Return);
    pressKey(m_box.get(), Qt::Key_Backspace);
    pressKey(m_box.get(), Qt::Key_Tab);
    pressKey(m_box.get(), Qt::Key_V, Qt::ControlModifier);
    pressKey(m_box.get(), Qt::Key_Home);
    EXPECT_EQ(m_box->text(), u"ab"_s);
    EXPECT_EQ(m_box->selStart(), 2);
    EXPECT_TRUE(handler.presses.empty());
    EXPECT_TRUE(handler.pastes.empty());
    EXPECT_EQ(handler.downs.size(), 7u) << "six keys and the Ctrl key before V";
}

TEST_F(TerminalBoxTest, KeyPressGetsControlCodesFromTheKeyNotTheEventText)
{
    struct Row
    {
        const char *what;
        int key;
        Qt::KeyboardModifiers modifiers;
        QString eventText;
        int keyAscii;
    };
    const Row rows[] = {
            {"Ctrl+C as X11 sends it", Qt::Key_C, Qt::ControlModifier, u"\x03"_s, 3},
            {"Ctrl+C as test tools send it", Qt::Key_C, Qt::ControlModifier, u"c"_s, 3},
            {"Ctrl+A", Qt::Key_A, Qt::ControlModifier, u"a"_s, 1},
            {"Ctrl+Shift+Z", Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, u"Z"_s, 26},
            {"Ctrl+M without text", Qt::Key_M, Qt::ControlModifier, QString(), 13},
            {"Enter", Qt::Key_Return, Qt::NoModifier, u"\r"_s, 13},
            {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, u"\r"_s, 13},
            {"Backspace", Qt::Key_Backspace, Qt::NoModifier, u"\b"_s, 8},
            {"Escape", Qt::Key_Escape, Qt::NoModifier, u"\x1b"_s, 27},
            {"letter", Qt::Key_Q, Qt::NoModifier, u"q"_s, 'q'},
            {"shifted letter", Qt::Key_Q, Qt::ShiftModifier, u"Q"_s, 'Q'},
            {"letter without text", Qt::Key_Q, Qt::NoModifier, QString(), 'q'},
            {"space", Qt::Key_Space, Qt::NoModifier, u" "_s, ' '},
            {"non-ASCII", Qt::Key_unknown, Qt::NoModifier, u"é"_s, 0xe9},
    };
    RecordingHandler handler;
    m_box->setKeyHandler(&handler);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        handler.presses.clear();
        pressKey(m_box.get(), row.key, row.modifiers, row.eventText);
        ASSERT_EQ(handler.presses.size(), 1u);
        EXPECT_EQ(handler.presses[0], row.keyAscii);
    }

    // Keys that type nothing raise no KeyPress.
    handler.presses.clear();
    for (const int key : {Qt::Key_F1, Qt::Key_Insert, Qt::Key_Down, Qt::Key_Shift}) {
        pressKey(m_box.get(), key);
    }
    pressKey(m_box.get(), Qt::Key_F, Qt::AltModifier, u"f"_s);
    EXPECT_TRUE(handler.presses.empty());
}

TEST_F(TerminalBoxTest, TypedCharactersGoInAfterKeyPressWhichMayChangeThem)
{
    RecordingHandler handler;
    m_box->setKeyHandler(&handler);
    m_box->setSelColor(Teal);
    pressKey(m_box.get(), Qt::Key_A, Qt::NoModifier, u"a"_s);
    pressKey(m_box.get(), Qt::Key_Return, Qt::NoModifier, u"\r"_s);
    pressKey(m_box.get(), Qt::Key_C, Qt::ControlModifier, u"\x03"_s);
    EXPECT_EQ(m_box->text(), u"a\r\n"_s) << "Enter makes the break, Ctrl+C types nothing";
    EXPECT_EQ(m_box->runs(), TextRuns({{u"a\n"_s, Teal, false}}));

    handler.replacement = 'b';
    pressKey(m_box.get(), Qt::Key_A, Qt::NoModifier, u"a"_s);
    handler.replacement = 0;
    pressKey(m_box.get(), Qt::Key_A, Qt::NoModifier, u"a"_s);
    pressKey(m_box.get(), Qt::Key_Return, Qt::NoModifier, u"\r"_s);
    EXPECT_EQ(m_box->text(), u"a\r\nb"_s);

    // An input method's committed text is typed character by character.
    handler.replacement = -1;
    handler.presses.clear();
    QInputMethodEvent commit;
    commit.setCommitString(u"中文"_s);
    QApplication::sendEvent(m_box.get(), &commit);
    EXPECT_EQ(handler.presses, (std::vector<int>{0x4e2d, 0x6587}));
    EXPECT_EQ(m_box->text(), u"a\r\nb中文"_s);
}

// A selection made while an input method composes survives the composition's end, which the
// text edit would otherwise take as input replacing the selection.
TEST_F(TerminalBoxTest, AnInputMethodCompositionNeverDeletesTheSelection)
{
    RecordingHandler handler;
    m_box->setKeyHandler(&handler);
    receive(u"received"_s);
    for (const QString &next : {u"zho"_s, QString()}) {
        SCOPED_TRACE(next.toStdString());
        QInputMethodEvent start(u"zh"_s, {});
        QApplication::sendEvent(m_box.get(), &start);
        select(*m_box, 0, 4);
        QInputMethodEvent change(next, {});
        QApplication::sendEvent(m_box.get(), &change);
        EXPECT_EQ(m_box->text(), u"received"_s);
    }
    EXPECT_EQ(m_box->lastTypedLine(), QString());
}

TEST_F(TerminalBoxTest, CopyHappensBeforeKeyPressMovesTheCaret)
{
    RecordingHandler handler;
    handler.caretToEndOf = m_box.get();
    m_box->setKeyHandler(&handler);
    m_box->insertText(u"abcd"_s);
    select(*m_box, 1, 3);
    pressKey(m_box.get(), Qt::Key_C, Qt::ControlModifier, u"\x03"_s);
    EXPECT_EQ(QApplication::clipboard()->text(), u"bc"_s);
    EXPECT_EQ(handler.presses, std::vector<int>{3});
    EXPECT_EQ(m_box->text(), u"abcd"_s);
}

TEST_F(TerminalBoxTest, PastedAndDroppedTextGoesToTheHandler)
{
    RecordingHandler handler;
    m_box->setKeyHandler(&handler);
    m_box->insertText(u"ab"_s);
    QApplication::clipboard()->setText(u"xyz"_s);

    pressKey(m_box.get(), Qt::Key_V, Qt::ControlModifier, u"\x16"_s);
    pressKey(m_box.get(), Qt::Key_Insert, Qt::ShiftModifier);
    auto mime = std::make_unique<QMimeData>();
    mime->setText(u"dropped"_s);
    m_box->show();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, mime.get(), Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(m_box->viewport(), &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, mime.get(), Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(m_box->viewport(), &drop);

    EXPECT_EQ(handler.pastes, (std::vector<QString>{u"xyz"_s, u"xyz"_s, u"dropped"_s}));
    EXPECT_EQ(m_box->text(), u"ab"_s) << "the box inserted pasted text itself";
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction) << "a move would delete the dragged text";

    // Without a window to place it, pasted text goes to the end.
    m_box->setKeyHandler(nullptr);
    m_box->setSelStart(0);
    m_box->paste();
    EXPECT_EQ(m_box->text(), u"abxyz"_s);
}

TEST_F(TerminalBoxTest, AReservedShortcutReachesTheWindowMenu)
{
    QMainWindow window;
    auto *box = new TerminalBox;
    window.setCentralWidget(box);
    QAction *action = window.menuBar()->addMenu(u"Edit"_s)->addAction(u"Hex"_s);
    action->setShortcut(QKeySequence(u"Ctrl+C"_s));
    int triggered = 0;
    QObject::connect(action, &QAction::triggered, &window, [&triggered] { ++triggered; });
    window.show();
    QApplication::setActiveWindow(&window);
    box->setFocus();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), box);

    // Without the reservation the box keeps Ctrl+C for copying.
    pressKey(box, Qt::Key_C, Qt::ControlModifier, u"c"_s);
    EXPECT_EQ(triggered, 0);

    box->setReservedShortcuts({QKeySequence(u"Ctrl+C"_s)});
    pressKey(box, Qt::Key_C, Qt::ControlModifier, u"c"_s);
    EXPECT_EQ(triggered, 1);
}

TEST_F(TerminalBoxTest, ClearTextEmptiesTheBox)
{
    m_box->document()->setDocumentMargin(5.5);
    receive(longLine(5000) + u"\r\nx"_s);
    m_box->clearText();
    EXPECT_EQ(m_box->document()->documentMargin(), 5.5) << "the window's margin was lost";
    EXPECT_EQ(m_box->text(), QString());
    EXPECT_EQ(m_box->textLength(), 0);
    EXPECT_EQ(m_box->selStart(), 0);
    EXPECT_TRUE(m_box->runs().isEmpty());
    m_box->insertText(u"y"_s);
    EXPECT_EQ(m_box->textLength(), 1);
}

// The view catches up with the document once a frame, and the scroll bar within a second;
// what is on screen then must be what a fresh paint of the contents shows, with the caret in view.
TEST_F(TerminalBoxTest, TheScreenShowsTheTextOnceAFrameHasPassed)
{
    m_box->setMaxCharacters(6000);
    m_box->show();
    const auto expectScreenMatchesContents = [this](const char *stage) {
        SCOPED_TRACE(stage);
        runEventsFor(1100);
        const QImage fresh = m_box->grab().toImage();
        const QImage shown = QGuiApplication::primaryScreen()
                                     ->grabWindow(m_box->winId())
                                     .toImage()
                                     .convertToFormat(fresh.format());
        EXPECT_TRUE(shown == fresh) << "the screen shows stale text";
        EXPECT_TRUE(m_box->viewport()->rect().contains(m_box->cursorRect()))
                << "the caret is out of view";
    };
    for (int i = 0; i < 40; ++i) {
        receive(u"line %1\r\n"_s.arg(i));
        runEventsFor(3);
    }
    expectScreenMatchesContents("slow lines");
    const QString line = longLine(2500);
    for (qsizetype at = 0; at < line.size(); at += 50) {
        receive(line.mid(at, 50));
        runEventsFor(2);
    }
    expectScreenMatchesContents("slow line without breaks");
    receive(QString(longLine(70) + u"\r\n"_s).repeated(200));
    expectScreenMatchesContents("a blast trimmed at the front");
    m_box->resize(300, 200);
    receive(u"after resizing"_s);
    expectScreenMatchesContents("resized");
}

// A long line streaming in is cut into paragraphs where the view shows its last screen line
// start, which is before the end; a selection or a caret there must stay on its characters.
TEST_F(TerminalBoxTest, ArrivalsLeaveASelectionOrCaretNearTheEndOfAGrowingLineInPlace)
{
    m_box->resize(200, 300);
    m_box->show();
    const QString line = longLine(4000);
    bool cutBesideSelection = false;
    bool cutBesideCaret = false;
    for (qsizetype at = 0; at + 300 <= line.size(); at += 300) {
        SCOPED_TRACE(at);
        // The last character selected with the mouse, or a caret placed just before it.
        const bool selection = at % 600 == 0 && at > 0;
        if (selection) {
            select(*m_box, at - 1, at);
        } else if (at > 0) {
            m_box->setSelStart(at - 1);
        }
        const int paragraphs = m_box->document()->blockCount();
        m_box->appendRuns({{line.mid(at, 300), Yellow, true}});
        runEventsFor(105); // a frame lays the last paragraph out
        const bool cut = m_box->document()->blockCount() > paragraphs;
        if (selection) {
            cutBesideSelection = cutBesideSelection || cut;
            EXPECT_EQ(m_box->textCursor().selectedText(), line.mid(at - 1, 1));
        } else if (at > 0) {
            cutBesideCaret = cutBesideCaret || cut;
            EXPECT_EQ(m_box->selStart(), at - 1);
        }
    }
    EXPECT_TRUE(cutBesideSelection && cutBesideCaret) << "the line was not cut beside both";
}

TEST_F(TerminalBoxTest, ContextMenuOffersCopyPasteAndSelectAllOnly)
{
    m_box->insertText(u"text"_s);
    m_box->show();
    QStringList captions;
    QTimer::singleShot(0, m_box.get(), [&captions] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu) {
            return;
        }
        for (QAction *action : menu->actions()) {
            if (!action->isSeparator()) {
                captions << action->text();
            }
        }
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            m_box->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(m_box->viewport(), &event);
    EXPECT_EQ(captions, (QStringList{u"复制"_s, u"粘贴"_s, u"全选"_s}));
}

} // namespace
