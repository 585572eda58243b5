#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

#include "Ownership.h"

namespace snapmend {

// The environment the person's programs get from us: their display and
// session bus (DISPLAY, WAYLAND_DISPLAY, XAUTHORITY, DBUS_SESSION_BUS_ADDRESS,
// falling back to the bus in their runtime folder), which desktop they use
// and their language, XDG_RUNTIME_DIR, HOME, USER and LOGNAME from the
// password database, and a PATH of system folders only. Nothing else of
// root's environment passes. "NAME=value" entries.
QList<QByteArray> PersonEnvironment(const Account& person);

// Starts the desktop's opener (xdg-open, found on PATH) on `path` as
// `person`: their uid, gid and groups, with no way back to root, in a session
// of its own, with PersonEnvironment (XAUTHORITY only when they can read it).
// It is not waited for. False when no opener could be started.
bool OpenAsPerson(const QString& path, const Account& person);

}  // namespace snapmend
