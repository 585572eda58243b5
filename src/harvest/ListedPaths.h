#pragma once
#include <QSet>
#include <QString>

namespace snapmend {

// The workspace paths that have a row in either result list, kept beside the
// rows so that "is this file listed?" costs the same with 10 or 10 000 rows.
// Paths compare exactly (case-sensitive). The empty path counts as listed.
class ListedPaths {
public:
    bool Contains(const QString& path) const { return path.isEmpty() || m_paths.contains(path); }
    void Insert(const QString& path) { m_paths.insert(path); }
    void Clear() { m_paths.clear(); }
    qsizetype Size() const { return m_paths.size(); }

private:
    QSet<QString> m_paths;
};

}  // namespace snapmend
