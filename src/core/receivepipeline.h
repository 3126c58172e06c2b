#pragma once

#include "core/textrun.h"
#include "core/receivedecoder.h"

#include <QByteArray>
#include <QString>

class CaptureFile;
class LineClaim;
class Switches;

// What happens to bytes from the line, in order and without widgets: the capture file gets them
// first (it is the lossless record), then they become text, decoded from code page 936 or written
// as one hexadecimal dump line per chunk, as coloured runs for the terminal to append.
class ReceivePipeline
{
public:
    struct Output
    {
        TextRuns runs;
        // Set when capture failed and was switched off; the chunk is still shown.
        QString captureError;
    };

    ReceivePipeline(Switches &switches, CaptureFile &capture);

    // While someone has claimed the line, it is offered each chunk after the capture has it.
    void setLineClaim(LineClaim *claim) { m_claim = claim; }

    Output feed(const QByteArray &chunk);

private:
    Switches &m_switches;
    CaptureFile &m_capture;
    ReceiveDecoder m_decoder;
    LineClaim *m_claim = nullptr;
};
