#pragma once

#include "core/textrun.h"

#include <QChar>
#include <QString>

// The terminal's text as the commands and long jobs write it: the few calls they make, so that
// they run and are tested without the text box. Positions count a line break as one character;
// text goes in at the caret (insertText) or at the end whatever the caret (appendRuns).
//
// Readers are not const: text that arrived is gathered and reaches the text when it is read.
class Terminal
{
public:
    virtual ~Terminal() = default;

    virtual qsizetype textLength() = 0;
    // Character at a position (a line break reads as '\n'); QChar() outside the text.
    virtual QChar charAt(qsizetype position) = 0;
    virtual void clearText() = 0;

    virtual void setSelStart(qsizetype position) = 0;
    virtual void moveCaretToEnd() = 0;
    // Colour and received mark of text inserted from now on at the caret.
    virtual void setSelColor(RgbColor color) = 0;
    virtual void setSelReceived(bool received) = 0;
    // Inserts at the caret and leaves the caret behind it; "\r\n", "\r" and "\n" each make one
    // line break.
    virtual void insertText(const QString &text) = 0;

    virtual TextRuns runs() = 0;
    // Replaces the contents and leaves the caret at the start, as loading a document does.
    virtual void setRuns(const TextRuns &runs) = 0;
    virtual void appendRuns(const TextRuns &runs) = 0;
    // While held, what appendRuns brings is kept aside in order, to go in after text that is
    // being replaced meanwhile (a workspace load, which writes with appendLoaded). Releasing
    // appends it; the answer says whether anything was held.
    virtual bool setArrivalsHeld(bool held) = 0;
    virtual void appendLoaded(const TextRuns &runs) = 0;

    // Whether the user may type; off while a job writes the terminal at its caret.
    virtual void setInputEnabled(bool enabled) = 0;
    // Whole lines dropped from the start so far to keep within the terminal's bound.
    virtual qint64 linesTrimmed() { return 0; }
};

// Writes one of the program's own lines (a lost port, a finished transfer) at the end, on a line
// of its own, in the notice colour and kept from editing like text from the line.
void appendNotice(Terminal &terminal, const QString &text);
