#pragma once
#include <QSet>
#include <QString>

namespace snapmend {

// The text after the path's last '/' (the whole path when it has none).
QString SourceFileName(const QString& sourcePath);

// "name (n).ext": the number goes before the last dot of the name, or at its
// end when the name has no extension (a leading dot does not start one).
QString NumberedFileName(const QString& fileName, int n);

// Target paths of one recovery. A source lands in the output folder under its
// own file name, replacing a file that was there before the recovery; a name
// that this recovery has already written is never overwritten: the later file
// gets the first "name (n).ext", n >= 2, that is neither written by this
// recovery nor present in the folder.
class TargetNames {
public:
    QString TargetFor(const QString& outputFolder, const QString& sourcePath) const;
    // Records a target as written by this recovery.
    void Claim(const QString& targetPath) { m_written.insert(targetPath); }
    bool Claimed(const QString& targetPath) const { return m_written.contains(targetPath); }
    void Clear() { m_written.clear(); }

private:
    QSet<QString> m_written;
};

}  // namespace snapmend
