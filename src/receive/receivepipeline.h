#pragma once

#include "receive/consoleinterpreter.h"
#include "receive/receivedecoder.h"
#include "core/textrun.h"
#include "receive/timestamper.h"

#include <QByteArray>
#include <QString>

class CaptureFile;
class LineClaim;
class Switches;

// What happens to bytes from the line, in order and without widgets: the capture file gets them
// first (it is the lossless record), then they become text: decoded in the chosen encoding and read
// as a console would show it (consoleinterpreter.h), or written as one hexadecimal dump line per
// chunk; either way coloured runs for the terminal to append. Last, the arrival time goes before
// each line that starts, when asked for.
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

    // The time before each received line that starts, as the last stage.
    void setTimeStamps(bool on) { m_stamper.setEnabled(on); }
    bool timeStamps() const { return m_stamper.enabled(); }
    // Where the terminal ends, which typed lines and notices move too.
    void setTerminalAtLineStart(bool on) { m_stamper.setAtLineStart(on); }

    // The encoding received text is read in, in text and in hexadecimal mode.
    void setEncoding(TextEncoding encoding) { m_decoder.setEncoding(encoding); }
    TextEncoding encoding() const { return m_decoder.encoding(); }

private:
    Switches &m_switches;
    CaptureFile &m_capture;
    // The interpreter pairs CR LF itself, also when cut, so the decoder hands on every LF.
    ReceiveDecoder m_decoder{false};
    ConsoleInterpreter m_console;
    TimeStamper m_stamper;
    LineClaim *m_claim = nullptr;
};
