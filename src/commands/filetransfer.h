#pragma once

#include <QtGlobal>

#include <memory>

class QFile;
struct CommandContext;

// Files over the line: sending one byte by byte, capturing what arrives, and the
// hexadecimal view of a file in the terminal.
//
// Sending and the view let events run between their steps, so any other command, the receive
// handler, or the end of the program may run in the middle of them. The loops therefore hold
// nothing across those steps but a token that says whether this object still lives.
class FileTransfer
{
public:
    // A file is read this much at a time while it is sent, so its size does not matter.
    static constexpr qint64 SendBlockBytes = 64 * 1024;
    // The largest file the hexadecimal view shows.
    static constexpr qint64 MaxHexViewBytes = 65535;
    // Bytes on one line of the hexadecimal view.
    static constexpr qsizetype HexViewLineBytes = 24;

    explicit FileTransfer(CommandContext &context);
    ~FileTransfer();
    FileTransfer(const FileTransfer &) = delete;
    FileTransfer &operator=(const FileTransfer &) = delete;

    void sendFile();
    void captureToFile();
    void openFileAsHex();

    // The program is ending: a send still running stops before its next byte, a view ends as
    // if stopped, and neither lets events run again.
    void stopRunning();

private:
    // Echoes and sends the file; returns early when this object goes away meanwhile.
    void sendBytes(QFile &file, bool fast);
    // Writes the dump; false when this object went away meanwhile.
    bool showHex(QFile &file);

    CommandContext &m_context;
    std::shared_ptr<bool> m_alive;
    bool m_stopping = false;
};
