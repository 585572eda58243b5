#include "WindowsVersion.h"

#include "SystemInfo.h"

namespace snapmend {
namespace {

constexpr unsigned kExtendedVersionInfoSize = 156;
constexpr unsigned kPlainVersionInfoSize = 148;

}  // namespace

std::optional<int> ClassifyWindowsVersion(unsigned platformId, unsigned major, unsigned minor)
{
    switch (platformId) {
    case 0:
        return 7;
    case 1:
        if (major < 4 || (major == 4 && minor == 0))
            return 1;
        if (major == 4 && minor < 90)
            return 2;
        return 3;
    case 2:
        if (major <= 4)
            return 4;
        if (major == 5)
            return minor == 0 ? 5 : 6;
        if (major == 6)
            return 8;
        return std::nullopt;
    default:
        return 9;
    }
}

bool GetWindowsVersionCode(const SystemInfo& system, int& code)
{
    std::optional<OsVersion> version = system.GetVersionEx(kExtendedVersionInfoSize);
    if (!version)
        version = system.GetVersionEx(kPlainVersionInfoSize);
    if (!version)
        return false;
    if (std::optional<int> classified = ClassifyWindowsVersion(version->platformId, version->major, version->minor))
        code = *classified;
    return true;
}

}  // namespace snapmend
