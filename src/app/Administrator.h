#pragma once
#include <QString>

namespace snapmend {

struct PlatformServices;

// True when the process has the rights to read raw disks; otherwise fills
// `refusal` with the explaining message (the window shows it) and returns false.
bool IsAdministrator(PlatformServices& platform, QString& refusal);

}  // namespace snapmend
