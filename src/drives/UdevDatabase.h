#pragma once
#include <QByteArray>
#include <QHash>
#include <QString>
#include <utility>

namespace snapmend {

using UdevProperties = QHash<QString, QString>;

// The "E:KEY=VALUE" lines of a udev database record; other lines are ignored.
UdevProperties ParseUdevRecord(const QByteArray& record);

// Undoes udev's "\xHH" escapes of the *_ENC properties (ID_MODEL_ENC).
QString DecodeUdevValue(const QString& value);

// udev's database of block devices, one record per device number; "/run/udev/data"
// on a running system, a recorded folder in tests. Without udev every lookup is empty.
class UdevDatabase {
public:
    explicit UdevDatabase(QString root = QStringLiteral("/run/udev/data")) : m_root(std::move(root)) {}

    // The properties of the block device `majorMinor` ("8:16").
    UdevProperties BlockDevice(const QString& majorMinor) const;

private:
    QString m_root;
};

}  // namespace snapmend
