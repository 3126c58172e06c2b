#include "commands/filetransfer.h"

#include "commands/commandcontext.h"

FileTransfer::FileTransfer(CommandContext &context)
    : m_context(context)
{}

void FileTransfer::sendFile() {}

void FileTransfer::captureToFile() {}

void FileTransfer::openFileAsHex() {}
