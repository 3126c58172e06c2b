#include "widgets/heldlayout.h"

#include "document/blockcolours.h"

#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

bool HeldLayout::releaseSize()
{
    if (!m_held) {
        return false;
    }
    m_held = false;
    Q_EMIT documentSizeChanged(documentSize());
    return true;
}

void HeldLayout::releaseRepaint(int firstShown, int lastShown)
{
    const int from = m_changedFrom;
    const bool removed = m_removed;
    m_changedFrom = -1;
    m_removed = false;
    if (from < 0) {
        return;
    }
    if (removed) {
        requestUpdate();
        return;
    }
    const QTextDocument *doc = document();
    const int first = std::max(doc->findBlock(from).blockNumber(), firstShown);
    for (QTextBlock block = doc->findBlockByNumber(first);
         block.isValid() && block.blockNumber() <= lastShown; block = block.next()) {
        Q_EMIT updateBlock(block);
    }
}

QRectF HeldLayout::blockBoundingRect(const QTextBlock &block) const
{
    BlockColours::showColours(block);
    return QPlainTextDocumentLayout::blockBoundingRect(block);
}

void HeldLayout::documentChanged(int from, int charsRemoved, int charsAdded)
{
    if (!m_holding) {
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
        m_blockCount = document()->blockCount();
        return;
    }
    // The plain-text layout lays out a paragraph changed within itself at once, on every
    // insertion into it; a long line growing a few bytes at a time would be laid out again and
    // again. Its layout is dropped instead, and the next frame lays out what it shows.
    const QTextDocument *doc = document();
    QTextBlock first = doc->findBlock(from);
    if (first.isValid() && doc->blockCount() == m_blockCount
        && first == doc->findBlock(std::max(0, from + charsRemoved + charsAdded - 1))) {
        first.clearLayout();
    } else {
        const QSignalBlocker blocker(this);
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
        m_blockCount = doc->blockCount();
    }
    m_held = true;
    m_changedFrom = m_changedFrom < 0 ? from : std::min(m_changedFrom, from);
    m_removed = m_removed || charsRemoved > 0;
}
