#pragma once

#include "commands/hexview.h"

#include <QtGlobal>

class FileSend;
struct CommandContext;

// Files over the line: the commands that send one, capture what arrives, and show one in
// hexadecimal. They ask for the file and check it; the long work is done by the FileSend and
// HexView objects, which run on the window's events and can be stopped at any moment.
class FileTransfer
{
public:
    // The largest file the hexadecimal view shows.
    static constexpr qint64 MaxHexViewBytes = HexView::MaxBytes;

    explicit FileTransfer(CommandContext &context);
    ~FileTransfer();
    FileTransfer(const FileTransfer &) = delete;
    FileTransfer &operator=(const FileTransfer &) = delete;

    void sendFile();
    void captureToFile();
    void openFileAsHex();

    bool sending() const;

private:
    CommandContext &m_context;
    FileSend *m_send = nullptr;
    HexView *m_view = nullptr;
};
