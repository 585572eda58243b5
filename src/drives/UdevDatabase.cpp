#include "UdevDatabase.h"

#include <QFile>

namespace snapmend {
namespace {

// A record is a few kilobytes; anything far larger is not one.
constexpr qint64 kMaxRecordBytes = 64 * 1024;

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

}  // namespace

UdevProperties ParseUdevRecord(const QByteArray& record)
{
    UdevProperties properties;
    for (const QByteArray& line : record.split('\n')) {
        if (!line.startsWith("E:"))
            continue;
        const int equals = line.indexOf('=');
        if (equals < 3)
            continue;
        properties.insert(QString::fromUtf8(line.mid(2, equals - 2)), QString::fromUtf8(line.mid(equals + 1)));
    }
    return properties;
}

QString DecodeUdevValue(const QString& value)
{
    QByteArray bytes;
    const QByteArray utf8 = value.toUtf8();
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\\' && i + 3 < utf8.size() && utf8[i + 1] == 'x') {
            const int high = HexDigit(QChar(utf8[i + 2]));
            const int low = HexDigit(QChar(utf8[i + 3]));
            if (high >= 0 && low >= 0) {
                bytes.append(char(high * 16 + low));
                i += 3;
                continue;
            }
        }
        bytes.append(utf8[i]);
    }
    return QString::fromUtf8(bytes);
}

UdevProperties UdevDatabase::BlockDevice(const QString& majorMinor) const
{
    if (majorMinor.isEmpty())
        return {};
    QFile file(m_root + QStringLiteral("/b") + majorMinor);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ParseUdevRecord(file.read(kMaxRecordBytes));
}

}  // namespace snapmend
