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
// Linux has no version code and no administrator log-in: root rights come
// through the password prompt of the menu entry, pkexec or sudo.
const char kStartAsRootText[] =
    "You need to be administrator (root) to use Kestrova Snapmend to recover photos: reading a disk directly "
    "needs it.\n\n"
    "Please start it from its menu entry (Snapmend, under System), which asks for your password, or from a "
    "terminal with \"pkexec snapmend\" or \"sudo snapmend\".";

}  // namespace

bool IsAdministrator(PlatformServices& platform, QString& refusal)
{
    if (platform.system->IsUserAnAdmin())
        return true;
    int code = 0;
    const char* text = kStartAsRootText;
    if (GetWindowsVersionCode(*platform.system, code))
        text = code == kRunAsAdministratorVersion ? kRunAsAdministratorText : kLogInAsAdministratorText;
    refusal = QString::fromLatin1(text);
    return false;
}

}  // namespace snapmend
