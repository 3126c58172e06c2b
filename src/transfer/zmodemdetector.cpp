#include "transfer/zmodemdetector.h"

#include "transfer/zmodemframe.h"

#include <cstring>

namespace {

constexpr qsizetype Length = 6; // ** ZDLE B 0 0|1

// A start at i of data (i + Length <= size).
ZmodemDetector::Found startAt(QByteArrayView data, qsizetype i)
{
    if (data[i] != Zmodem::ZPAD || data[i + 1] != Zmodem::ZPAD || data[i + 2] != Zmodem::ZDLE
        || data[i + 3] != Zmodem::ZHEX || data[i + 4] != '0')
        return ZmodemDetector::Found::Nothing;
    if (data[i + 5] == '0')
        return ZmodemDetector::Found::Sender;
    if (data[i + 5] == '1')
        return ZmodemDetector::Found::Receiver;
    return ZmodemDetector::Found::Nothing;
}

} // namespace

ZmodemDetector::Hit ZmodemDetector::feed(QByteArrayView bytes)
{
    Hit hit;
    // Across the edge: the tail and the first bytes of this piece.
    if (!m_tail.isEmpty()) {
        QByteArray edge = m_tail;
        edge.append(bytes.first(qMin(bytes.size(), Length - 1)));
        for (qsizetype i = 0; i < m_tail.size() && i + Length <= edge.size(); ++i) {
            const Found found = startAt(edge, i);
            if (found != Found::Nothing) {
                m_tail.clear();
                return {found, 0};
            }
        }
    }
    // Within the piece: each ZDLE is looked at where it stands in a start.
    const char *data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype from = 2;
    while (from < size) {
        const void *zdle = std::memchr(data + from, Zmodem::ZDLE, size_t(size - from));
        if (!zdle)
            break;
        const qsizetype i = static_cast<const char *>(zdle) - data - 2;
        if (i >= 0 && i + Length <= size) {
            const Found found = startAt(bytes, i);
            if (found != Found::Nothing) {
                m_tail.clear();
                return {found, i};
            }
        }
        from = i + 3;
    }
    const qsizetype keep = qMin<qsizetype>(Length - 1, size);
    m_tail.append(bytes.last(keep));
    m_tail = m_tail.right(Length - 1);
    return hit;
}
