#pragma once

#include "core/textencoding.h"

#include <QByteArrayView>
#include <QString>

// Text that the far end sent as bytes, whole (a file name in a transfer's header), read in the
// line's encoding as the terminal reads it (code page 936 unless the user chose UTF-8). A byte
// that starts no character is U+FFFD, so that what could not be read shows as such instead of
// vanishing.
QString lineText(QByteArrayView bytes, TextEncoding encoding = TextEncoding::Gbk);
