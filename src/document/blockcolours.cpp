#include "document/blockcolours.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <limits>

namespace BlockColours {

namespace {

class BlockRuns;

// The paragraphs whose layouts hold their runs as formats, the one shown last first. A layout
// keeps a format range of some thirty bytes a run for as long as its paragraph lives, so only
// the last few shown keep theirs; one scrolled back to gets them again when it is drawn.
struct ShownList
{
    BlockRuns *newest = nullptr;
    BlockRuns *oldest = nullptr;
    int count = 0;
};
constexpr int MaxShown = 256;

ShownList &shownList()
{
    static ShownList list;
    return list;
}

class BlockRuns : public QTextBlockUserData
{
public:
    ~BlockRuns() override { unlinkShown(); }

    void unlinkShown();
    void linkShown(QTextLayout *layout);

    Runs runs;
    // Whether the paragraph's layout holds these runs as its additional formats.
    bool shown = false;
    // While in the shown list: the layout holding runs, and the neighbours there.
    QTextLayout *layout = nullptr;
    BlockRuns *newer = nullptr;
    BlockRuns *older = nullptr;
};

void BlockRuns::unlinkShown()
{
    if (!layout) {
        return;
    }
    ShownList &list = shownList();
    (newer ? newer->older : list.newest) = older;
    (older ? older->newer : list.oldest) = newer;
    newer = older = nullptr;
    layout = nullptr;
    --list.count;
}

void BlockRuns::linkShown(QTextLayout *shownIn)
{
    unlinkShown();
    ShownList &list = shownList();
    layout = shownIn;
    older = list.newest;
    (older ? older->newer : list.oldest) = this;
    list.newest = this;
    if (++list.count > MaxShown) {
        BlockRuns *dropped = list.oldest;
        dropped->layout->setFormats({});
        dropped->shown = false;
        dropped->unlinkShown();
    }
}

// Only this file gives a paragraph of the terminal user data.
BlockRuns *dataOf(const QTextBlock &block)
{
    return static_cast<BlockRuns *>(block.userData());
}

void setRuns(QTextBlock block, Runs runs)
{
    BlockRuns *data = dataOf(block);
    if (!data) {
        data = new BlockRuns;
        block.setUserData(data);
    }
    data->runs = std::move(runs);
    data->shown = false;
}

void add(Runs &runs, int start, ColourIndex colour)
{
    if (!runs.empty() && runs.back().start == start) {
        runs.pop_back();
    }
    if (runs.empty() || runs.back().colour != colour) {
        runs.push_back({start, colour});
    }
}

// Index of the run that holds the character at offset; -1 before the first.
qsizetype covering(const Runs &runs, int offset)
{
    const auto after = std::upper_bound(runs.begin(), runs.end(), offset,
                                        [](int at, const Run &run) { return at < run.start; });
    return (after - runs.begin()) - 1;
}

// Appends the runs over [from, to) of `runs`, moved to start at `at` of out.
void appendSlice(const Runs *runs, int from, int to, int at, Runs &out)
{
    if (from >= to) {
        return;
    }
    if (!runs || runs->empty()) {
        add(out, at, NoColour);
        return;
    }
    qsizetype i = covering(*runs, from);
    add(out, at, i >= 0 ? (*runs)[i].colour : NoColour);
    for (++i; i < qsizetype(runs->size()) && (*runs)[i].start < to; ++i) {
        add(out, (*runs)[i].start - from + at, (*runs)[i].colour);
    }
}

// The runs once `length` characters coloured by `pieces` (their starts counted from the first
// of them) went in at offset, the paragraph keeping its break. Near the end of the runs, where
// the line grows, this touches the last few only.
void spliceIn(Runs &runs, int offset, int length, const Runs &pieces)
{
    auto it = std::lower_bound(runs.begin(), runs.end(), offset,
                               [](const Run &run, int at) { return run.start < at; });
    ColourIndex moved = NoColour; // of the character that was at offset
    if (it != runs.end() && it->start == offset) {
        moved = it->colour;
    } else if (it != runs.begin()) {
        moved = std::prev(it)->colour;
    }
    for (auto shifted = it; shifted != runs.end(); ++shifted) {
        shifted->start += length;
    }
    if (it == runs.end() || it->start != offset + length) {
        it = runs.insert(it, {offset + length, moved});
    }
    const qsizetype first = it - runs.begin();
    runs.insert(it, pieces.begin(), pieces.end());
    const qsizetype last = first + qsizetype(pieces.size()) - 1;
    for (qsizetype i = first; i <= last; ++i) {
        runs[i].start += offset;
    }
    if (runs[last + 1].colour == runs[last].colour) {
        runs.erase(runs.begin() + last + 1);
    }
    if (first > 0 && runs[first - 1].colour == runs[first].colour) {
        runs.erase(runs.begin() + first);
    }
}

// Puts runs on the paragraphs that text inserted between two document positions now spans:
// the first keeps its runs before the insertion (takeTail cut them there; a paragraph that is
// split keeps its user data in its first part), the last gets `tail`, the runs of what followed
// the insertion point, behind the new text.
void spread(QTextDocument &doc, int from, int to, const Runs &tail, const Runs &pieces)
{
    QTextBlock block = doc.findBlock(from);
    Runs runs;
    if (BlockRuns *data = dataOf(block)) {
        runs = std::move(data->runs);
    } else if (from > block.position()) {
        runs.push_back({0, NoColour});
    }
    size_t piece = 0; // the first of pieces not yet reached
    for (;;) {
        const int start = block.position();
        const int end = start + block.length();
        const bool last = to < end;
        const int first = std::max(from, start) - start;
        const int behind = (last ? to : end) - start;
        if (behind > first) {
            // The piece that holds the paragraph's first inserted character, then the rest
            // that start within it.
            const int offset = first + start - from; // counted from the inserted text's start
            while (piece + 1 < pieces.size() && pieces[piece + 1].start <= offset) {
                ++piece;
            }
            add(runs, first, pieces[piece].colour);
            while (piece + 1 < pieces.size() && pieces[piece + 1].start < behind + start - from) {
                ++piece;
                add(runs, pieces[piece].start + from - start, pieces[piece].colour);
            }
        }
        if (last) {
            for (const Run &run : tail) {
                add(runs, run.start + behind, run.colour);
            }
        }
        setRuns(block, std::move(runs));
        if (last) {
            return;
        }
        dataOf(block)->runs.shrink_to_fit(); // the paragraph is complete
        runs = Runs();
        block = block.next();
    }
}

// Takes the runs from the cursor to the paragraph's end, its break included, out of the
// paragraph's runs.
Runs takeTail(const QTextCursor &cursor)
{
    const QTextBlock block = cursor.block();
    const int offset = cursor.positionInBlock();
    Runs tail;
    BlockRuns *data = dataOf(block);
    appendSlice(data ? &data->runs : nullptr, offset, block.length(), 0, tail);
    if (data) {
        data->runs.erase(std::lower_bound(data->runs.begin(), data->runs.end(), offset,
                                          [](const Run &run, int at) { return run.start < at; }),
                         data->runs.end());
    }
    return tail;
}

// The colours runs have used, for all documents alike; the first place is NoColour's.
struct Palette
{
    std::vector<QRgb> colours{0};
    QHash<QRgb, ColourIndex> indexes;
};

Palette &palette()
{
    static Palette known;
    return known;
}

const QTextCharFormat &displayFormat(QRgb colour)
{
    static QHash<QRgb, QTextCharFormat> formats;
    auto it = formats.find(colour);
    if (it == formats.end()) {
        QTextCharFormat format;
        format.setForeground(QColor(colour));
        it = formats.insert(colour, format);
    }
    return *it;
}

} // namespace

ColourIndex Colouring::at(qsizetype offset) const
{
    if (!m_runs) {
        return m_colour;
    }
    const qsizetype i = covering(*m_runs, int(offset));
    return i >= 0 ? (*m_runs)[i].colour : NoColour;
}

Runs Colouring::slice(qsizetype from, qsizetype to) const
{
    Runs result;
    if (!m_runs) {
        result.push_back({0, m_colour});
        return result;
    }
    appendSlice(m_runs, int(from), int(to), 0, result);
    return result;
}

Runs Colouring::sliceAsStored(QStringView text, qsizetype from, qsizetype to) const
{
    if (!m_runs || from >= to) {
        return slice(from, to);
    }
    // A CR LF never spans two runs: the text was put together from runs only where none ends
    // in CR before one that starts with LF.
    Runs result;
    qsizetype i = covering(*m_runs, int(from));
    add(result, 0, i >= 0 ? (*m_runs)[i].colour : NoColour);
    qsizetype at = from;
    qsizetype stored = 0;
    for (++i; i < qsizetype(m_runs->size()) && (*m_runs)[i].start < to; ++i) {
        const qsizetype start = (*m_runs)[i].start;
        stored += start - at - text.sliced(at, start - at).count(u"\r\n");
        at = start;
        add(result, int(stored), (*m_runs)[i].colour);
    }
    return result;
}

void addRun(Runs &runs, int start, ColourIndex colour)
{
    add(runs, start, colour);
}

QRgb paletteColour(ColourIndex colour)
{
    return palette().colours[colour];
}

Format split(const QTextCharFormat &format)
{
    const QRgb colour = format.foreground().color().rgb();
    Palette &known = palette();
    auto it = known.indexes.constFind(colour);
    if (it == known.indexes.constEnd()) {
        if (known.colours.size() > std::numeric_limits<ColourIndex>::max()) {
            return {format, NoColour}; // the colour stays in the format
        }
        it = known.indexes.insert(colour, ColourIndex(known.colours.size()));
        known.colours.push_back(colour);
    }
    Format result{format, *it};
    result.stored.clearForeground();
    return result;
}

const Runs *runsOf(const QTextBlock &block)
{
    const BlockRuns *data = dataOf(block);
    return data ? &data->runs : nullptr;
}

QRgb colourAt(const QTextBlock &block, int offset, const QTextCharFormat &format)
{
    if (!format.hasProperty(QTextFormat::ForegroundBrush)) {
        if (const Runs *runs = runsOf(block)) {
            const qsizetype i = covering(*runs, offset);
            if (i >= 0 && (*runs)[i].colour != NoColour) {
                return paletteColour((*runs)[i].colour);
            }
        }
    }
    return format.foreground().color().rgb();
}

void insertText(QTextCursor &cursor, QStringView text, const Format &format)
{
    insertText(cursor, text, format.stored, Runs{{0, format.colour}});
}

void insertText(QTextCursor &cursor, QStringView text, const QTextCharFormat &stored,
                const Runs &pieces)
{
    if (text.isEmpty()) {
        return;
    }
    const QTextBlock block = cursor.block();
    const int offset = cursor.positionInBlock();
    cursor.insertText(QString::fromRawData(text.data(), text.size()), stored);
    BlockRuns *data = dataOf(block);
    if (!data) {
        setRuns(block, Runs());
        data = dataOf(block);
    }
    spliceIn(data->runs, offset, int(text.size()), pieces);
    data->shown = false;
}

void insertLines(QTextCursor &cursor, const QString &text, const QTextCharFormat &stored,
                 const Runs &pieces)
{
    if (text.isEmpty()) {
        return;
    }
    const Runs tail = takeTail(cursor);
    const int from = cursor.position();
    cursor.insertText(text, stored);
    spread(*cursor.document(), from, cursor.position(), tail, pieces);
}

void insertBlock(QTextCursor &cursor, const Format &format)
{
    const Runs tail = takeTail(cursor);
    const int from = cursor.position();
    cursor.insertBlock(cursor.blockFormat(), format.stored);
    spread(*cursor.document(), from, from + 1, tail, Runs{{0, format.colour}});
}

void removeSelectedText(QTextCursor &cursor)
{
    const int from = cursor.selectionStart();
    const int to = cursor.selectionEnd();
    if (from == to) {
        return;
    }
    QTextDocument &doc = *cursor.document();
    const QTextBlock first = doc.findBlock(from);
    const QTextBlock last = doc.findBlock(to);
    Runs runs;
    const int head = from - first.position();
    appendSlice(runsOf(first), 0, head, 0, runs);
    appendSlice(runsOf(last), to - last.position(), last.length(), head, runs);
    cursor.removeSelectedText();
    setRuns(doc.findBlock(from), std::move(runs));
}

void showColours(const QTextBlock &block)
{
    BlockRuns *data = dataOf(block);
    if (!data) {
        return;
    }
    QTextLayout *layout = block.layout();
    if (data->shown) {
        data->linkShown(layout);
        return;
    }
    data->shown = true;
    const int length = block.length() - 1;
    QList<QTextLayout::FormatRange> ranges;
    for (size_t i = 0; i < data->runs.size(); ++i) {
        const Run &run = data->runs[i];
        const int end
                = std::min(i + 1 < data->runs.size() ? data->runs[i + 1].start : length, length);
        if (end > run.start && run.colour != NoColour) {
            ranges.append({run.start, end - run.start, displayFormat(paletteColour(run.colour))});
        }
    }
    layout->setFormats(ranges);
    data->linkShown(layout);
}

} // namespace BlockColours
