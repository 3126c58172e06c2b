#include "core/messages.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cerrno>

using namespace Qt::StringLiterals;

namespace {

bool hasLatinWord(const QString &text)
{
    static const QRegularExpression word(u"[A-Za-z]{4,}"_s);
    return word.match(text).hasMatch();
}

} // namespace

// The reasons users met in English: a device without a controlling terminal, a link that
// points at itself, a read-only disk and a server that stopped answering.
TEST(SystemReason, WhatTheSystemSaysReachesTheUserInChinese)
{
    for (const int error : {ENXIO, ELOOP, EPERM, EROFS, ETIMEDOUT}) {
        SCOPED_TRACE(error);
        const QString message = Messages::openFailed(u"COM1"_s, qt_error_string(error));
        EXPECT_FALSE(hasLatinWord(message.sliced(4))) << message.toStdString();
    }
    // A text the program worded itself, or one it does not know, is kept.
    EXPECT_TRUE(Messages::openFailed(u"COM1"_s, u"Strange new error"_s)
                        .contains(u"Strange new error"_s));

    // A real link loop, as a capture file would meet it.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString loop = dir.filePath(u"loop"_s);
    ASSERT_TRUE(QFile::link(loop, loop));
    QFile file(loop);
    ASSERT_FALSE(file.open(QIODevice::WriteOnly));
    const QString message = Messages::captureOpenFailed(loop, file.errorString());
    EXPECT_FALSE(hasLatinWord(message.sliced(message.indexOf(u'：')))) << message.toStdString();
}
