#include "MountInfo.h"

#include <QFile>
#include <QList>

namespace snapmend {

namespace {

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

QString DecodePath(const QByteArray& field) { return QFile::decodeName(UnescapeMountField(field)); }

bool ParseDevice(const QByteArray& field, unsigned& major, unsigned& minor)
{
    const int colon = field.indexOf(':');
    if (colon <= 0)
        return false;
    bool okMajor = false;
    bool okMinor = false;
    major = field.left(colon).toUInt(&okMajor);
    minor = field.mid(colon + 1).toUInt(&okMinor);
    return okMajor && okMinor;
}

}  // namespace

QByteArray UnescapeMountField(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) &&
            IsOctal(field[i + 2]) && IsOctal(field[i + 3])) {
            out.append(char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
            i += 3;
        } else {
            out.append(field[i]);
        }
    }
    return out;
}

std::vector<MountEntry> ParseMountInfo(const QByteArray& text)
{
    // id parent major:minor root mount-point options [optional...] - fstype source super-options
    std::vector<MountEntry> entries;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        const int sep = f.indexOf(QByteArray("-"));
        if (sep < 6 || f.size() < sep + 3)
            continue;
        MountEntry entry;
        if (!ParseDevice(f[2], entry.major, entry.minor))
            continue;
        entry.root = DecodePath(f[3]);
        entry.mountPoint = DecodePath(f[4]);
        entry.fsType = QString::fromUtf8(UnescapeMountField(f[sep + 1]));
        entry.source = DecodePath(f[sep + 2]);
        entries.push_back(entry);
    }
    return entries;
}

}  // namespace snapmend
