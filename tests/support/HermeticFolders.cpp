#include "HermeticFolders.h"

#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace snapmend::test {
namespace {

void Remember(const char* name, std::string& value, bool& had)
{
    const char* current = std::getenv(name);
    had = current != nullptr;
    value = current ? current : "";
}

void Restore(const char* name, const std::string& value, bool had)
{
    if (had)
        ::setenv(name, value.c_str(), 1);
    else
        ::unsetenv(name);
}

int RemoveEntry(const char* path, const struct stat*, int, FTW*)
{
    ::remove(path);
    return 0;
}

}  // namespace

PrivateFolders::PrivateFolders()
{
    Remember("TMPDIR", m_oldTmp, m_hadTmp);
    Remember("XDG_RUNTIME_DIR", m_oldRuntime, m_hadRuntime);
    // Short names: a local socket's path in the runtime folder must stay
    // under 108 bytes, even with a test's folder inside the program's.
    std::string pattern = (m_hadTmp && !m_oldTmp.empty() ? m_oldTmp : std::string("/tmp")) + "/smt-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return;
    m_root = pattern;
    const std::string tmp = m_root + "/t";
    const std::string runtime = m_root + "/r";
    // The temporary folder behaves as /tmp does (every user may make entries,
    // only their owner may remove them); the runtime folder is private.
    ::chmod(m_root.c_str(), 0755);
    ::mkdir(tmp.c_str(), 0700);
    ::chmod(tmp.c_str(), 01777);
    ::mkdir(runtime.c_str(), 0700);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
}

PrivateFolders::~PrivateFolders()
{
    Restore("TMPDIR", m_oldTmp, m_hadTmp);
    Restore("XDG_RUNTIME_DIR", m_oldRuntime, m_hadRuntime);
    if (m_root.empty())
        return;
    // Depth first, never following a link nor entering another file system
    // (a mount a test forgot stays, with what it holds).
    ::nftw(m_root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

void HermeticFolders::Install()
{
    ::testing::UnitTest::GetInstance()->listeners().Append(new HermeticFolders);
}

}  // namespace snapmend::test
