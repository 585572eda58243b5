// The real services, chosen in one place.
#include "PlatformServices.h"

#include "DriveSource.h"
#include "SystemInfo.h"
#include "UiServices.h"

namespace snapmend {

PlatformServices& PlatformServices::Default()
{
    static QtUiServices ui;
    static LinuxSystemInfo system;
    static LinuxDriveSource drives;
    static PlatformServices services{&ui, &system, &drives, {}, {}};
    return services;
}

}  // namespace snapmend
