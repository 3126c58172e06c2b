#include "receive/linetext.h"

#include "receive/receivedecoder.h"

QString lineText(QByteArrayView bytes, TextEncoding encoding)
{
    // Every line feed kept: the bytes are one piece, with no cut to join across.
    ReceiveDecoder decoder(false);
    decoder.setEncoding(encoding);
    return decoder.decode(bytes) + decoder.flush();
}
