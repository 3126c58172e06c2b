#include "receive/receivedecoder.h"

#include "receive/codepage936.h"

QString ReceiveDecoder::decode(QByteArrayView chunk)
{
    if (chunk.isEmpty())
        return QString();
    // Never more characters than bytes, plus the replacement for a carried lead byte.
    QString out(chunk.size() + 1, Qt::Uninitialized);
    char16_t *const begin = reinterpret_cast<char16_t *>(out.data());
    char16_t *dst = begin;
    const auto *p = reinterpret_cast<const uchar *>(chunk.data());
    const uchar *const end = p + chunk.size();

    // The trail of a lead byte carried over from the previous chunk.
    if (m_pendingLead >= 0) {
        const QChar pair = CodePage936::pairChar(quint8(m_pendingLead), *p);
        if (!pair.isNull()) {
            *dst++ = pair.unicode();
            ++p;
        } else {
            *dst++ = QChar::ReplacementCharacter;
        }
        m_pendingLead = -1;
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

        if (CodePage936::isLeadByte(*p)) {
            if (p + 1 == end) {
                m_pendingLead = *p++;
                break;
            }
            const QChar pair = CodePage936::pairChar(p[0], p[1]);
            if (!pair.isNull()) {
                *dst++ = pair.unicode();
                p += 2;
                continue;
            }
        }
        *dst++ = CodePage936::singleChar(*p++).unicode();
    }

    out.truncate(dst - begin);
    m_afterCr = m_joinCutCrLf && m_pendingLead < 0 && chunk.back() == '\r';
    return out;
}

QString ReceiveDecoder::flush()
{
    if (m_pendingLead < 0)
        return QString();
    m_pendingLead = -1;
    m_afterCr = false;
    return QString(QChar::ReplacementCharacter);
}

void ReceiveDecoder::reset()
{
    m_pendingLead = -1;
    m_afterCr = false;
}
