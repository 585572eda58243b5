#pragma once
#include <QListView>
#include <QString>
#include <QTreeView>

#include "ResultModels.h"

namespace snapmend {

// The photo list: a view over the photos' model, which it owns.
class PhotoListView : public QListView {
    Q_OBJECT
public:
    explicit PhotoListView(QWidget* parent = nullptr);
    PhotoResultModel& Model() { return m_model; }
    const PhotoResultModel& Model() const { return m_model; }

signals:
    // A photo was activated (double-clicked, or Enter): its workspace path.
    void photoActivated(const QString& path);

private:
    PhotoResultModel m_model;
};

// The other-files list: a view over the files' model, which it owns.
class FileListView : public QTreeView {
    Q_OBJECT
public:
    explicit FileListView(QWidget* parent = nullptr);
    FileResultModel& Model() { return m_model; }
    const FileResultModel& Model() const { return m_model; }

private:
    FileResultModel m_model;
};

}  // namespace snapmend
