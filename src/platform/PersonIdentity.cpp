#include "PersonIdentity.h"

#include <algorithm>
#include <cerrno>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace snapmend {
namespace {

// The raw system call changes the calling thread only; glibc's setgroups
// would change every thread of the process.
bool SetThreadGroups(const std::vector<gid_t>& groups)
{
    return ::syscall(SYS_setgroups, groups.size(), groups.data()) == 0;
}

// The calling thread's supplementary groups, sorted (the kernel keeps them sorted).
std::vector<gid_t> ThreadGroups()
{
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<size_t>(count > 0 ? count : 0));
    if (count > 0 && ::getgroups(count, groups.data()) != count)
        groups.clear();
    std::sort(groups.begin(), groups.end());
    return groups;
}

// setfsuid and setfsgid report the previous value, and change nothing for -1:
// that is how the current one is read.
uid_t CurrentFsUid() { return static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))); }
gid_t CurrentFsGid() { return static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))); }

}  // namespace

ActingAsPerson::ActingAsPerson(const std::optional<Account>& person)
{
    if (!person)
        return;
    m_oldUid = CurrentFsUid();
    m_oldGid = CurrentFsGid();
    m_oldGroups = ThreadGroups();
    m_switched = true;
    if (SetThreadGroups(person->groups)) {
        ::setfsgid(person->gid);
        ::setfsuid(person->uid);
    }
    std::vector<gid_t> wanted = person->groups;
    std::sort(wanted.begin(), wanted.end());
    m_ok = CurrentFsUid() == person->uid && CurrentFsGid() == person->gid && ThreadGroups() == wanted;
    if (!m_ok) {
        Restore();
        errno = EPERM;
    }
}

ActingAsPerson::~ActingAsPerson()
{
    const int savedErrno = errno;  // callers read errno of the work done in the person's name
    Restore();
    errno = savedErrno;
}

void ActingAsPerson::Restore()
{
    if (!m_switched)
        return;
    m_switched = false;
    ::setfsuid(m_oldUid);
    ::setfsgid(m_oldGid);
    SetThreadGroups(m_oldGroups);
}

}  // namespace snapmend
