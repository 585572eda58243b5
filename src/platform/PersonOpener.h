#pragma once
#include <QString>

#include "Ownership.h"

namespace snapmend {

// Starts the desktop's opener (xdg-open, found on PATH) on `path` as
// `person`: their uid, gid and groups, with no way back to root, in a session
// of its own. Its environment carries only their display (DISPLAY,
// WAYLAND_DISPLAY, XAUTHORITY when they can read it) and session bus (the one
// in their runtime folder, else DBUS_SESSION_BUS_ADDRESS as we have it),
// which desktop they use and their language, XDG_RUNTIME_DIR, HOME, USER and
// LOGNAME from the password database, and a PATH of system folders only.
// It is not waited for. False when no opener could be started.
bool OpenAsPerson(const QString& path, const Account& person);

}  // namespace snapmend
