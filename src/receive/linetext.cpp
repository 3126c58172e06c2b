#include "receive/linetext.h"

#include "receive/receivedecoder.h"

QString lineText(QByteArrayView bytes)
{
    // Every line feed kept: the bytes are one piece, with no cut to join across.
    ReceiveDecoder decoder(false);
    return decoder.decode(bytes) + decoder.flush();
}
