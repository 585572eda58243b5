#pragma once
#include <optional>

namespace snapmend {

class SystemInfo;

// Classifies a Windows platform id and version. Nothing for NT 7.0 and later,
// where the caller's code stays as it was.
std::optional<int> ClassifyWindowsVersion(unsigned platformId, unsigned major, unsigned minor);

// Queries the version (extended structure first, then the plain one) and
// classifies it. Returns false only when both queries fail; on true, `code`
// holds the version code unless the classification gave none.
bool GetWindowsVersionCode(const SystemInfo& system, int& code);

}  // namespace snapmend
