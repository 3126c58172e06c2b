#pragma once

#include <QString>

// The encoding that text on the line is in: code page 936 (GBK), the desktop's own, or UTF-8,
// which most boards running Linux speak today. The user picks it in the view menu; received
// text, typed lines and loop send all follow the one choice.
enum class TextEncoding { Gbk, Utf8 };

namespace TextEncodings {
// The text the settings file keeps, "GBK" or "UTF-8", which is also the name the status strip
// shows.
QString name(TextEncoding encoding);
// A stored text that names no encoding (an old or edited file) keeps the default, GBK.
TextEncoding fromName(const QString &name);

} // namespace TextEncodings
