#pragma once
// Turns a recorded sysfs description (samples/*.sysfs) into a real folder tree.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <stdexcept>
#include <unistd.h>

namespace snapmend::test {

inline QString SamplePath(const QString& name)
{
    return QStringLiteral(SNAPMEND_DRIVES_SAMPLES "/") + name;
}

inline QByteArray ReadSample(const QString& name)
{
    QFile file(SamplePath(name));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("missing sample " + name.toStdString());
    return file.readAll();
}

// Lines: "path -> target" (symbolic link), "path = text" (file), "path/" (folder).
inline void MaterializeSysfs(const QByteArray& description, const QString& root)
{
    for (QByteArray line : description.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const int arrow = line.indexOf(" -> ");
        const int equals = line.indexOf(" = ");
        if (arrow > 0) {
            const QString path = root + '/' + QString::fromUtf8(line.left(arrow));
            QDir().mkpath(QFileInfo(path).path());
            if (symlink(line.mid(arrow + 4).constData(), QFile::encodeName(path).constData()) != 0)
                throw std::runtime_error("cannot link " + path.toStdString());
        } else if (equals > 0) {
            const QString path = root + '/' + QString::fromUtf8(line.left(equals));
            QDir().mkpath(QFileInfo(path).path());
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                throw std::runtime_error("cannot write " + path.toStdString());
            file.write(line.mid(equals + 3).replace('|', '\n') + '\n');
        } else {
            QDir().mkpath(root + '/' + QString::fromUtf8(line));
        }
    }
}

}  // namespace snapmend::test
