#pragma once

#include <QIcon>

// The program's own icon, drawn at the sizes desktops ask for.
namespace AppIcon {
QIcon icon();
// One size as an image, for installing into icon themes.
QImage image(int size);
} // namespace AppIcon
