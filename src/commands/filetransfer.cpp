#include "commands/filetransfer.h"

#include "app/menus.h"
#include "app/progressbar.h"
#include "commands/capturefile.h"
#include "commands/commandcontext.h"
#include "platform/commport.h"
#include "platform/dialogs.h"
#include "platform/terminalbox.h"
#include "status/statusstrip.h"
#include "terminal/colors.h"
#include "terminal/hextext.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace {

const QString AllFilesFilter = u"所有文件|*.*"_s;
const QString CaptureFilter = u"全部文件|*.*"_s;

// Codes in the echo colour at the very end of the terminal, whatever the user clicked into.
void echo(TerminalBox &box, QByteArrayView bytes, int &column)
{
    box.setSelColor(TerminalColors::Echo);
    box.moveCaretToEnd();
    box.insertText(sendEchoText(bytes, column));
}

} // namespace

FileTransfer::FileTransfer(CommandContext &context)
    : m_context(context)
    , m_alive(std::make_shared<bool>(true))
{}

FileTransfer::~FileTransfer()
{
    *m_alive = false;
}

void FileTransfer::stopRunning()
{
    m_stopping = true;
}

void FileTransfer::sendFile()
{
    const std::optional<QString> path = m_context.dialogs.openFile(AllFilesFilter);
    if (!path) {
        return;
    }
    const bool fast = m_context.dialogs.message(u"快速发送?"_s, Dialogs::YesNo) == Dialogs::Yes;

    // A file that cannot be read sends nothing; the user sees that no echo appears.
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    sendBytes(file, fast);
}

void FileTransfer::sendBytes(QFile &file, bool fast)
{
    // Our own hold on the token: events may destroy this object and the context meanwhile.
    const std::shared_ptr<bool> alive = m_alive;
    Dialogs &dialogs = m_context.dialogs;
    CommPort &port = m_context.port;
    const QPointer<TerminalBox> box(&m_context.box);

    int column = 0;
    while (!m_stopping && box) {
        // An empty read is the end of the file, or a read error that ends the send as well.
        const QByteArray block = file.read(SendBlockBytes);
        if (block.isEmpty()) {
            break;
        }
        if (fast) {
            // Nothing runs between the bytes, so one echo and one write per block look and
            // sound the same as one per byte. The port waits while its buffer is full.
            echo(*box, block, column);
            (void)port.output(block);
            continue;
        }
        for (qsizetype i = 0; i < block.size(); ++i) {
            const QByteArray byte = block.sliced(i, 1);
            echo(*box, byte, column);
            dialogs.doEvents();
            if (!*alive || m_stopping || !box) {
                return;
            }
            // The port may have been closed meanwhile: the rest is still echoed, and the
            // failed writes are not worth a message per byte.
            (void)port.output(byte);
        }
    }
}

void FileTransfer::captureToFile()
{
    Menus &menus = m_context.menus;
    if (menus.checked(Menus::Capture)) {
        menus.setChecked(Menus::Capture, false);
        m_context.capture.close();
        return;
    }

    // The mark goes on only once the file is open: the receive handler writes whenever it
    // sees the mark, and data may arrive while the dialog is up.
    const std::optional<QString> path = m_context.dialogs.saveFile(CaptureFilter);
    if (!path) {
        return;
    }
    const Result opened = m_context.capture.open(*path);
    if (!opened) {
        // Said aloud: a capture that silently records nothing loses the data it was meant for.
        m_context.dialogs.message(opened.message(), Dialogs::Exclamation);
        return;
    }
    menus.setChecked(Menus::Capture, true);
}

void FileTransfer::openFileAsHex()
{
    CommandContext &c = m_context;
    c.strip.setCommand1Caption(u"停止"_s);
    c.stopFlag = 0;

    const std::optional<QString> path = c.dialogs.openFile(AllFilesFilter);
    if (!path) {
        c.strip.setCommand1Caption(u"清除"_s);
        return;
    }

    c.box.clearText();
    const qint64 length = QFileInfo(*path).size();
    c.bar.setScaleWidth(double(length));
    if (length > MaxHexViewBytes) {
        c.dialogs.message(u"太大哦 !!!"_s, Dialogs::Exclamation);
        c.strip.setCommand1Caption(u"清除"_s);
        return;
    }

    // From here on the clear button means stop, and the terminal takes no typing. A file that
    // cannot be opened shows nothing and ends like a finished view.
    QFile file(*path);
    const bool opened = file.open(QIODevice::ReadOnly);
    const QPointer<TerminalBox> box(&c.box);
    c.menus.setEnabled(Menus::HexView, false);
    box->setEnabled(false);
    if (opened && !showHex(file)) {
        return;
    }

    c.stopFlag = 0;
    c.menus.setEnabled(Menus::HexView, true);
    file.close();
    if (box) {
        box->setEnabled(true);
    }
    c.bar.cls();
    c.strip.setCommand1Caption(u"清除"_s);
}

bool FileTransfer::showHex(QFile &file)
{
    const std::shared_ptr<bool> alive = m_alive;
    CommandContext &c = m_context;
    const QPointer<TerminalBox> box(&c.box);

    // At most the limit, even if the file grew since its size was taken.
    const QByteArray data = file.read(MaxHexViewBytes);

    // Events run only between two lines, and the stop request only changes while they run,
    // so writing a whole line at once shows the same as writing it code by code. A stop
    // still takes the byte after the events, as the view always has: one code, its character.
    for (qsizetype start = 0; start < data.size(); start += HexViewLineBytes) {
        if (start > 0) {
            c.bar.drawMark(double(start + 1));
            c.dialogs.doEvents();
            if (!*alive) {
                return false;
            }
            if (m_stopping || !box) {
                break;
            }
        }
        const bool stop = c.stopFlag == 1;
        const qsizetype count = stop ? 1 : qMin(HexViewLineBytes, data.size() - start);
        box->insertText(hexViewLine(QByteArrayView(data).sliced(start, count)));
        if (stop) {
            break;
        }
    }
    return true;
}
