#include "Ownership.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "FileSystem.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <vector>

namespace snapmend {
namespace {

bool TrustedOwner(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

QString Quoted(const QString& path) { return QStringLiteral("\"") + path + QStringLiteral("\""); }

// Checks one entry, not following a link. `last`: the path itself, where a
// sticky world-writable folder is no protection.
bool EntryTrusted(const QString& path, bool last, QString* reason)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        if (reason)
            *reason = Quoted(path) + QStringLiteral(" cannot be examined.");
        return false;
    }
    if (!TrustedOwner(info.st_uid)) {
        if (reason)
            *reason = Quoted(path) + QStringLiteral(" belongs to another user (uid %1).").arg(info.st_uid);
        return false;
    }
    if (S_ISLNK(info.st_mode))
        return true;  // the link cannot be changed by others; where it leads is checked separately
    const bool othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    const bool sticky = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0;
    if (othersWrite && (last || !sticky)) {
        if (reason)
            *reason = Quoted(path) + QStringLiteral(" can be changed by other users.");
        return false;
    }
    return true;
}

// Every prefix of an absolute path, "/" first.
std::vector<QString> Prefixes(const QString& absolute)
{
    std::vector<QString> out{QStringLiteral("/")};
    const QStringList parts = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current;
    for (const QString& part : parts) {
        current += QLatin1Char('/') + part;
        out.push_back(current);
    }
    return out;
}

bool ChainTrusted(const QString& absolute, QString* reason, bool stickyPathOk)
{
    const std::vector<QString> prefixes = Prefixes(absolute);
    for (size_t i = 0; i < prefixes.size(); ++i) {
        if (!EntryTrusted(prefixes[i], i + 1 == prefixes.size() && !stickyPathOk, reason))
            return false;
    }
    return true;
}

bool CheckPrivate(int fd)
{
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & 077) == 0;
}

// The groups of the account `name` (getgrouplist), its primary group `gid` included.
std::vector<gid_t> GroupsOf(const char* name, gid_t gid)
{
    constexpr int kMaxGroups = 65536;
    int count = 32;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    while (::getgrouplist(name, gid, groups.data(), &count) < 0 && count <= kMaxGroups) {
        count = std::max(count, static_cast<int>(groups.size()) * 2);
        groups.resize(static_cast<size_t>(count));
    }
    groups.resize(static_cast<size_t>(std::clamp(count, 0, static_cast<int>(groups.size()))));
    if (groups.empty())
        groups.push_back(gid);
    return groups;
}

}  // namespace

std::optional<Account> LookUpAccount(uid_t uid)
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry {};
    passwd* found = nullptr;
    while (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (!found || !found->pw_dir || !found->pw_name)
        return std::nullopt;
    return Account{found->pw_uid, found->pw_gid, QFile::decodeName(found->pw_dir), QByteArray(found->pw_name),
                   GroupsOf(found->pw_name, found->pw_gid)};
}

std::optional<Account> InvokingPerson()
{
    if (::geteuid() != 0)
        return std::nullopt;
    for (const char* name : {"PKEXEC_UID", "SUDO_UID"}) {
        const QByteArray text = qgetenv(name);
        bool ok = false;
        const uint uid = text.toUInt(&ok);
        if (!ok || uid == 0)
            continue;
        return LookUpAccount(static_cast<uid_t>(uid));
    }
    return std::nullopt;
}

bool IsPathTrusted(const QString& path, QString* reason, bool stickyPathOk)
{
    const QString absolute = QDir::cleanPath(QDir(path).absolutePath());
    if (!ChainTrusted(absolute, reason, stickyPathOk))
        return false;
    const QString resolved = QFileInfo(absolute).canonicalFilePath();
    if (resolved.isEmpty()) {
        if (reason)
            *reason = Quoted(path) + QStringLiteral(" does not exist.");
        return false;
    }
    return resolved == absolute || ChainTrusted(resolved, reason, stickyPathOk);
}

bool MakePrivateFolder(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    const UniqueFd fd = OpenFolder(path, LastLink::Refuse);
    if (!fd.valid())
        return false;
    struct stat info {};
    return ::fstat(fd.get(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           ::fchmod(fd.get(), 0700) == 0;
}

bool IsPrivateFolder(const QString& path)
{
    const UniqueFd fd = OpenFolder(path, LastLink::Refuse);
    return fd.valid() && CheckPrivate(fd.get());
}

QString PrivateRuntimeFolder(const QString& fallbackParent)
{
    const QString fromEnvironment = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    const QString standard = QStringLiteral("/run/user/%1").arg(::geteuid());
    for (const QString& candidate : {fromEnvironment, standard}) {
        if (!candidate.isEmpty() && IsPrivateFolder(candidate) && IsPathTrusted(candidate))
            return candidate;
    }
    if (fallbackParent.isEmpty() || !QDir().mkpath(fallbackParent) || !IsPathTrusted(fallbackParent))
        return {};
    const QString own = QDir(fallbackParent).filePath(QStringLiteral("snapmend-run"));
    return MakePrivateFolder(own) ? own : QString();
}

}  // namespace snapmend
