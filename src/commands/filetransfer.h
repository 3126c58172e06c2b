#pragma once

struct CommandContext;

// Files over the line: sending one byte by byte, capturing what arrives, and the
// hexadecimal view of a file in the terminal.
class FileTransfer
{
public:
    explicit FileTransfer(CommandContext &context);

    void sendFile();
    void captureToFile();
    void openFileAsHex();

private:
    CommandContext &m_context;
};
