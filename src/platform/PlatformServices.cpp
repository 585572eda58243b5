#include "PlatformServices.h"

#include "SystemInfo.h"
#include "UiServices.h"

namespace snapmend {

PlatformServices& PlatformServices::Default()
{
    static QtUiServices ui;
    static LinuxSystemInfo system;
    static PlatformServices services{&ui, &system};
    return services;
}

}  // namespace snapmend
