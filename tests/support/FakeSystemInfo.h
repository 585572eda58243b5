#pragma once
#include <map>

#include "SystemInfo.h"

namespace snapmend::test {

// Stands in for the rights and version queries of the operating system.
class FakeSystemInfo : public SystemInfo {
public:
    bool admin = true;
    // Answers of the version query by structure size; a missing size fails.
    std::map<unsigned, OsVersion> versions;

    bool IsUserAnAdmin() const override { return admin; }
    std::optional<OsVersion> GetVersionEx(unsigned structSize) const override
    {
        auto it = versions.find(structSize);
        if (it == versions.end())
            return std::nullopt;
        return it->second;
    }
};

}  // namespace snapmend::test
