#pragma once

class QWidget;

namespace snapmend {

struct PlatformServices;

// True when the process has the rights to read raw disks; otherwise shows
// the explaining message, owned by `owner`, and returns false.
bool IsAdministrator(PlatformServices& platform, QWidget* owner);

}  // namespace snapmend
