#include "receive/receivedecoder.h"

#include "receive/charreader.h"
#include "receive/codepage936.h"

#include <algorithm>

namespace {

// Writes a code point as one or two UTF-16 units.
char16_t *put(char16_t *dst, char32_t code)
{
    if (code >= 0x10000) {
        *dst++ = QChar::highSurrogate(code);
        *dst++ = QChar::lowSurrogate(code);
    } else {
        *dst++ = char16_t(code);
    }
    return dst;
}

} // namespace

QString ReceiveDecoder::decode(QByteArrayView chunk)
{
    using TextEncodings::CharRead;
    if (chunk.isEmpty())
        return QString();
    // Never more UTF-16 units than bytes, plus two for a character finished from the bytes
    // carried over.
    QString out(chunk.size() + 2, Qt::Uninitialized);
    char16_t *const begin = reinterpret_cast<char16_t *>(out.data());
    char16_t *dst = begin;
    const auto *p = reinterpret_cast<const uchar *>(chunk.data());
    const uchar *const end = p + chunk.size();

    // The rest of a character carried over from the previous chunk: read it joined with the
    // first bytes of this one, as far as a character can reach.
    if (m_pendingSize > 0) {
        const int carried = m_pendingSize;
        const int more = int(
                qMin(chunk.size(), qsizetype(TextEncodings::maxCharBytes(m_encoding) - carried)));
        std::copy_n(chunk.data(), more, m_pending.begin() + carried);
        const CharRead read = TextEncodings::readChar(
                m_encoding, QByteArrayView(m_pending.data(), carried + more));
        if (read.kind == CharRead::Incomplete) {
            // Still short: every byte of this chunk belongs to the waiting character.
            m_pendingSize = carried + more;
            return QString();
        }
        // What was carried is a well-formed start, so whatever comes takes all of it.
        Q_ASSERT(read.length >= carried);
        dst = put(dst, read.kind == CharRead::Complete ? read.code : char32_t(0xFFFD));
        p += read.length - carried;
        m_pendingSize = 0;
    } else if (m_afterCr && *p == '\n') {
        ++p;
    }

    while (p < end) {
        // Plain ASCII, the bulk of most traffic: find the run, then widen it in one loop that
        // the compiler vectorises.
        const uchar *run = p;
        while (p < end && *p < 0x80)
            ++p;
        const qsizetype runLength = p - run;
        for (qsizetype i = 0; i < runLength; ++i)
            dst[i] = run[i];
        dst += runLength;
        if (p == end)
            break;

        // A whole double-byte character, most of Chinese traffic in code page 936, without
        // the general reading's bookkeeping.
        if (m_encoding == TextEncoding::Gbk && p + 1 < end && CodePage936::isLeadByte(*p)) {
            const QChar pair = CodePage936::pairChar(p[0], p[1]);
            if (!pair.isNull()) {
                *dst++ = pair.unicode();
                p += 2;
                continue;
            }
        }
        const CharRead read = TextEncodings::readChar(
                m_encoding, QByteArrayView(reinterpret_cast<const char *>(p), end - p));
        if (read.kind == CharRead::Incomplete) {
            m_pendingSize = int(end - p);
            std::copy(p, end, m_pending.begin());
            break;
        }
        dst = put(dst, read.kind == CharRead::Complete ? read.code : char32_t(0xFFFD));
        p += read.length;
    }

    out.truncate(dst - begin);
    m_afterCr = m_joinCutCrLf && m_pendingSize == 0 && chunk.back() == '\r';
    return out;
}

QString ReceiveDecoder::flush()
{
    if (m_pendingSize == 0)
        return QString();
    m_pendingSize = 0;
    m_afterCr = false;
    return QString(QChar::ReplacementCharacter);
}

void ReceiveDecoder::reset()
{
    m_pendingSize = 0;
    m_afterCr = false;
}

void ReceiveDecoder::setEncoding(TextEncoding encoding)
{
    if (encoding != m_encoding)
        reset();
    m_encoding = encoding;
}
