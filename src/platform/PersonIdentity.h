#pragma once
#include <optional>
#include <sys/types.h>
#include <vector>

#include "Ownership.h"

namespace snapmend {

// For its lifetime, the calling thread acts on files as `person`: its
// file-system uid and gid and its supplementary groups become theirs, so files
// it creates are theirs and the kernel allows it exactly what it allows them
// (root's override of file permissions goes with the switch). Only this
// thread changes; the others keep root's rights. Restored on destruction.
// Without a person nothing changes.
class ActingAsPerson {
public:
    explicit ActingAsPerson(const std::optional<Account>& person);
    ~ActingAsPerson();
    ActingAsPerson(const ActingAsPerson&) = delete;
    ActingAsPerson& operator=(const ActingAsPerson&) = delete;

    // False when the switch failed: then nothing may be done in the person's
    // name (errno is EPERM).
    bool ok() const { return m_ok; }

private:
    void Restore();

    bool m_ok = true;
    bool m_switched = false;
    uid_t m_oldUid = 0;
    gid_t m_oldGid = 0;
    std::vector<gid_t> m_oldGroups;
};

}  // namespace snapmend
