#pragma once
#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace snapmend {

// An account as the password database describes it.
struct Account {
    uid_t uid = 0;
    gid_t gid = 0;
    QString home;
    QByteArray name;
    std::vector<gid_t> groups;  // every group the account belongs to, its own group included
};

std::optional<Account> LookUpAccount(uid_t uid);

// The person who started the program through pkexec or sudo (PKEXEC_UID,
// then SUDO_UID); nothing when the program runs for its own user. Only
// consulted when running as root: the recovery is for that person.
std::optional<Account> InvokingPerson();

// True when nobody but root and the running user can change what `path`
// names: every folder on the way to it, written and resolved, and the path
// itself are owned by one of them and writable by no one else (a sticky
// folder such as /tmp is allowed on the way, and as the path itself only with
// `stickyPathOk`: a place to make unguessable private folders in).
// Otherwise false, with a sentence saying why in `reason`.
bool IsPathTrusted(const QString& path, QString* reason = nullptr, bool stickyPathOk = false);

// Makes `path` a folder only the running user can enter: created with mode
// 0700 when missing (its parent must exist), else it must be a real folder
// (not a link) owned by the running user, and its mode is set to 0700.
bool MakePrivateFolder(const QString& path);

// True when `path` is a real folder (not a link) owned by the running user
// with no access for anybody else.
bool IsPrivateFolder(const QString& path);

// The running user's runtime folder (XDG_RUNTIME_DIR or /run/user/<uid>)
// when it is private; otherwise a private "snapmend-run" folder in `fallbackParent`
// (created). Empty when neither can be had.
QString PrivateRuntimeFolder(const QString& fallbackParent);

}  // namespace snapmend
