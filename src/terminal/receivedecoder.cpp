#include "terminal/receivedecoder.h"

#include "terminal/codepage936.h"

#include <QLatin1StringView>

QString ReceiveDecoder::decode(QByteArrayView chunk)
{
    QString out;
    if (chunk.isEmpty())
        return out;
    out.reserve(chunk.size() + 1);
    const auto *p = reinterpret_cast<const uchar *>(chunk.data());
    const uchar *const end = p + chunk.size();

    // The trail of a lead byte carried over from the previous chunk.
    if (m_pendingLead >= 0) {
        const QChar pair = CodePage936::pairChar(quint8(m_pendingLead), *p);
        if (!pair.isNull()) {
            out.append(pair);
            ++p;
        } else {
            out.append(QChar::ReplacementCharacter);
        }
        m_pendingLead = -1;
    } else if (m_afterCr && *p == '\n') {
        ++p;
    }

    while (p < end) {
        // Plain ASCII, the bulk of most traffic, goes over in runs.
        const uchar *run = p;
        while (p < end && *p < 0x80)
            ++p;
        if (p > run)
            out.append(QLatin1StringView(reinterpret_cast<const char *>(run), p - run));
        if (p == end)
            break;

        if (CodePage936::isLeadByte(*p)) {
            if (p + 1 == end) {
                m_pendingLead = *p;
                ++p;
                break;
            }
            const QChar pair = CodePage936::pairChar(p[0], p[1]);
            if (!pair.isNull()) {
                out.append(pair);
                p += 2;
                continue;
            }
        }
        out.append(CodePage936::singleChar(*p));
        ++p;
    }

    m_afterCr = m_pendingLead < 0 && chunk.back() == '\r';
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
