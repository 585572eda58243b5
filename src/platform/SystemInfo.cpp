#include "SystemInfo.h"

#include <unistd.h>

namespace snapmend {

bool LinuxSystemInfo::IsUserAnAdmin() const { return geteuid() == 0; }

std::optional<OsVersion> LinuxSystemInfo::GetVersionEx(unsigned) const { return std::nullopt; }

}  // namespace snapmend
