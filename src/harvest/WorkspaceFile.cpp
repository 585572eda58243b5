#include "WorkspaceFile.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapmend {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// The length of the valid UTF-8 sequence at `p` (at most `left` bytes) and
// its code point, or 0. Overlong forms, surrogates and code points past
// U+10FFFF are invalid.
int DecodeSequence(const unsigned char* p, qsizetype left, char32_t& point)
{
    const unsigned char lead = p[0];
    int length;
    char32_t min;
    if (lead < 0x80) {
        point = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    point = lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        point = point << 6 | (p[i] & 0x3F);
    }
    if (point < min || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return length;
}

bool IsEscape(char16_t unit) { return unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF; }

bool IsControlOrDirection(char16_t unit)
{
    return unit < 0x20 || (unit >= 0x7F && unit < 0xA0) || unit == 0x061C || unit == 0x200E || unit == 0x200F ||
           (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069);
}

}  // namespace

QString PathFromBytes(const QByteArray& bytes)
{
    // Decoded here rather than by QString::fromUtf8, which drops a leading byte-order mark.
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype size = bytes.size();
    QString out;
    out.reserve(size);
    for (qsizetype at = 0; at < size;) {
        char32_t point = 0;
        const int length = DecodeSequence(data + at, size - at, point);
        if (length == 0) {
            out += QChar(static_cast<char16_t>(kEscapeBase + data[at++]));
        } else if (QChar::requiresSurrogates(point)) {
            out += QChar(QChar::highSurrogate(point));
            out += QChar(QChar::lowSurrogate(point));
        } else {
            out += QChar(static_cast<char16_t>(point));
        }
        at += length;
    }
    return out;
}

QByteArray BytesOfPath(const QString& path)
{
    QByteArray out;
    out.reserve(path.size());
    qsizetype at = 0;
    while (at < path.size()) {
        qsizetype run = at;
        while (run < path.size() && !IsEscape(path.at(run).unicode()))
            ++run;
        if (run > at)
            out += QStringView(path).mid(at, run - at).toUtf8();
        if (run < path.size())
            out += static_cast<char>(path.at(run++).unicode() - kEscapeBase);
        at = run;
    }
    return out;
}

QString DisplayText(const QString& path)
{
    QString out = path;
    for (QChar& c : out)
        if (IsEscape(c.unicode()) || IsControlOrDirection(c.unicode()))
            c = QChar::ReplacementCharacter;
    return out;
}

namespace {

// Where the first open stops: well inside PATH_MAX, leaving the remaining
// folders to openat one by one.
constexpr qsizetype kHeadBytes = PATH_MAX / 2;

int OpenFolderBelow(int parent, const QByteArray& name)
{
    if (name == "." || name == "..") {
        errno = EINVAL;
        return -1;
    }
    return ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The end of a leading "/proc/<pid>/fd/<n>" (a workspace reached through the
// descriptor that holds it), or -1.
qsizetype HeldFolderPrefix(const QByteArray& bytes)
{
    static const QByteArray proc("/proc/");
    if (!bytes.startsWith(proc))
        return -1;
    const qsizetype fd = bytes.indexOf('/', proc.size());
    if (fd < 0 || bytes.mid(fd, 4) != "/fd/")
        return -1;
    qsizetype end = fd + 4;
    while (end < bytes.size() && bytes[end] >= '0' && bytes[end] <= '9')
        ++end;
    return end > fd + 4 && end < bytes.size() && bytes[end] == '/' ? end : -1;
}

// The folder holding the path's head, opened as the kernel resolves it: the
// held folder of a /proc/<pid>/fd/<n> path (the folders below it are then
// opened one by one, never through a link), else the longest prefix up to a
// separator that fits in kHeadBytes.
UniqueFd OpenHead(const QByteArray& bytes, qsizetype& rest)
{
    const qsizetype lastSlash = bytes.lastIndexOf('/');
    const qsizetype held = HeldFolderPrefix(bytes);
    const qsizetype cut =
        held >= 0 ? held : (lastSlash < kHeadBytes ? lastSlash : bytes.lastIndexOf('/', kHeadBytes));
    rest = cut + 1;
    if (cut < 0)  // a relative name
        return UniqueFd(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const QByteArray head = cut == 0 ? QByteArray("/") : bytes.left(cut);
    return UniqueFd(::open(head.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// The folder holding the file at `bytes`, reached folder by folder, and the file's name.
UniqueFd OpenParentFolder(const QByteArray& bytes, QByteArray& name)
{
    if (bytes.isEmpty() || bytes.contains('\0') || bytes.endsWith('/')) {
        errno = ENOENT;
        return {};
    }
    qsizetype at = 0;
    UniqueFd folder = OpenHead(bytes, at);
    const qsizetype nameStart = bytes.lastIndexOf('/') + 1;
    while (folder.valid() && at < nameStart) {
        const qsizetype slash = bytes.indexOf('/', at);
        const QByteArray component = bytes.mid(at, slash - at);
        at = slash + 1;
        if (!component.isEmpty())
            folder = UniqueFd(OpenFolderBelow(folder.get(), component));
    }
    name = bytes.mid(nameStart);
    return folder;
}

}  // namespace

UniqueFd OpenWorkspaceFile(const QString& path)
{
    QByteArray name;
    const UniqueFd folder = OpenParentFolder(BytesOfPath(path), name);
    if (!folder.valid())
        return {};
    UniqueFd file(::openat(folder.get(), name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid())
        return {};
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return {};
    }
    return file;
}

bool WorkspaceEntryExists(const QString& path)
{
    QByteArray name;
    const UniqueFd folder = OpenParentFolder(BytesOfPath(path), name);
    struct stat info {};
    return folder.valid() && ::fstatat(folder.get(), name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace snapmend
