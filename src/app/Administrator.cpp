#include "Administrator.h"

#include "PlatformServices.h"
#include "SystemInfo.h"
#include "WindowsVersion.h"

namespace snapmend {
namespace {

constexpr int kRunAsAdministratorVersion = 8;

const char kRunAsAdministratorText[] =
    "Your need to be administrator to use Kestrova Snapmend to recover photos.\n\n"
    "Please select Kestrova Snapmend, right click and choose \"Run as administrator\".";
const char kLogInAsAdministratorText[] =
    "Your need to be administrator to use Kestrova Snapmend to recover photos.\n\n"
    "Please log off your computer and then log in as Administrator, install Kestrova Snapmend and use it "
    "to recover photos.";

}  // namespace

bool IsAdministrator(PlatformServices& platform, QString& refusal)
{
    if (platform.system->IsUserAnAdmin())
        return true;
    // Without a version code (any Linux system) the log-in text applies: run it as root.
    int code = 0;
    GetWindowsVersionCode(*platform.system, code);
    const char* text = code == kRunAsAdministratorVersion ? kRunAsAdministratorText : kLogInAsAdministratorText;
    refusal = QString::fromLatin1(text);
    return false;
}

}  // namespace snapmend
