#pragma once

#include <QPlainTextDocumentLayout>

// The plain-text layout with its change notices held back while the terminal edits, so that the
// view follows the document once a frame rather than once an insertion. TerminalBox holds it
// around each edit and releases it when a frame is due.
class HeldLayout : public QPlainTextDocumentLayout
{
    Q_OBJECT

public:
    using QPlainTextDocumentLayout::QPlainTextDocumentLayout;

    void setHolding(bool holding) { m_holding = holding; }

    // Tells the view the document's new size; false when nothing was held.
    bool releaseSize();
    // Repaints what changed while held: of the paragraphs from the first change on, those
    // numbered firstShown to lastShown (the ones on screen), when nothing was removed, since what
    // lies before them only moved by scrolling; else the whole view. Naming a paragraph off
    // screen would lay it out only to learn that it is not shown.
    void releaseRepaint(int firstShown, int lastShown);

    // Every paragraph drawn is measured here first; its colours go into its layout then.
    QRectF blockBoundingRect(const QTextBlock &block) const override;

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    bool m_holding = false;
    bool m_held = false;
    // Paragraphs as the base layout last counted them; it only lays out a change that kept it.
    int m_blockCount = -1;
    int m_changedFrom = -1;
    bool m_removed = false;
};
