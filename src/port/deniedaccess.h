#pragma once

#include "core/messages.h"

#include <QByteArray>

// Reads who may open a device file (owner, group, rights) and where this user stands, so that a
// refusal can say what would let the user in.
Messages::DeniedDevice deniedDeviceOf(const QByteArray &path);
