#pragma once
#include <optional>

namespace snapmend {

// What the operating system reports of itself.
struct OsVersion {
    unsigned platformId = 0;
    unsigned major = 0;
    unsigned minor = 0;
};

class SystemInfo {
public:
    virtual ~SystemInfo() = default;
    // True when the process may read raw disks (effective user id 0 here).
    virtual bool IsUserAnAdmin() const = 0;
    // The Windows version query for a version structure of `structSize` bytes
    // (156 extended, 148 plain); nothing when the query fails.
    virtual std::optional<OsVersion> GetVersionEx(unsigned structSize) const = 0;
};

class LinuxSystemInfo : public SystemInfo {
public:
    bool IsUserAnAdmin() const override;
    // Linux has no Windows version: the query always fails.
    std::optional<OsVersion> GetVersionEx(unsigned structSize) const override;
};

}  // namespace snapmend
