#pragma once
#include <QListView>
#include <QString>
#include <QTreeView>

#include "ResultModels.h"

namespace snapmend {

// The photo list: a view over the photos' model, which it owns, through a
// filter that narrows and orders what is shown.
class PhotoListView : public QListView {
    Q_OBJECT
public:
    explicit PhotoListView(QWidget* parent = nullptr);
    PhotoResultModel& Model() { return m_model; }
    const PhotoResultModel& Model() const { return m_model; }
    ResultFilter& Filter() { return m_filter; }
    const ResultFilter& Filter() const { return m_filter; }

signals:
    // A photo was activated (double-clicked, or Enter): its workspace path.
    void photoActivated(const QString& path);

private:
    PhotoResultModel m_model;
    ResultFilter m_filter;
};

// The other-files list: a view over the files' model, which it owns, through a filter.
class FileListView : public QTreeView {
    Q_OBJECT
public:
    explicit FileListView(QWidget* parent = nullptr);
    FileResultModel& Model() { return m_model; }
    const FileResultModel& Model() const { return m_model; }
    ResultFilter& Filter() { return m_filter; }
    const ResultFilter& Filter() const { return m_filter; }

signals:
    // A file was activated (double-clicked, or Enter): its workspace path.
    void fileActivated(const QString& path);

private:
    FileResultModel m_model;
    ResultFilter m_filter;
};

}  // namespace snapmend
