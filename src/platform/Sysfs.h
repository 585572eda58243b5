#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <utility>

namespace snapmend {

// Reads the kernel's tree of devices: attribute files, folders and the links
// between them. Paths are absolute; the tree starts at `Root()`, "/sys" on a
// running system, a recorded tree in tests.
class SysfsReader {
public:
    explicit SysfsReader(QString root = QStringLiteral("/sys")) : m_root(std::move(root)) {}

    const QString& Root() const { return m_root; }
    // `relative` below the root, e.g. "dev/block/8:1".
    QString Path(const QString& relative) const { return m_root + QLatin1Char('/') + relative; }

    // The first 4 KiB of an attribute file; empty when it cannot be read.
    QByteArray Read(const QString& path) const;
    // The path with every link resolved; empty when it does not exist.
    QString Resolve(const QString& path) const;
    bool Exists(const QString& path) const;
    // The names in a folder, links included, sorted; empty when it is none.
    QStringList Entries(const QString& folder) const;

private:
    QString m_root;
};

}  // namespace snapmend
