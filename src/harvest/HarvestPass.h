#pragma once
#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>

#include "ListedPaths.h"

namespace snapmend {

// One look at the scan workspace and the files found there, taken one per
// step: a finished photo becomes a thumbnail, any other finished file a
// result, and a file is never reported twice. No widgets: the window adds
// the rows it hears about.
class HarvestPass : public QObject {
    Q_OBJECT
public:
    // `fallbackIcon`: the picture shown for a photo that cannot be decoded.
    explicit HarvestPass(QString fallbackIcon, QObject* parent = nullptr);

    // Lists the files below `workspaceRoot`; false when there are none.
    // `photoRows` is the number of thumbnails already shown: the next photo's row.
    bool Begin(const QString& workspaceRoot, bool engineRunning, int photoRows);
    // True once every entry of the pass has been stepped over.
    bool AtEnd() const { return m_next >= m_paths.size(); }
    // Takes the next entry: emits photoFound or fileFound, or nothing when the
    // file is gone, already reported, or still being written.
    void Step();
    // Drops the entries of the pass still to come.
    void Cancel();
    // Whether the engine was still running when the pass began (then another follows).
    bool EngineRanAtBegin() const { return m_engineRanAtBegin; }
    // Forgets what was reported, with the rows that showed it.
    void ForgetReported() { m_reported.Clear(); }

signals:
    void photoFound(const QImage& thumbnail, const QString& path, int row);
    void fileFound(const QString& path, quint64 size);

private:
    QString m_fallbackIcon;
    QStringList m_paths;
    qsizetype m_next = 0;
    int m_photoRow = 0;
    bool m_engineRanAtBegin = false;
    ListedPaths m_reported;
};

}  // namespace snapmend
