#pragma once

#include <QString>

// The system's reasons (strerror texts, which Qt passes on untranslated) in the program's
// language. Texts it does not know, and texts already worded by the program, come back as they
// are.
QString systemReason(const QString &text);
