#pragma once
// The main window's controls, found by their ids (object name "control<id>")
// the way a user finds them on screen: no member of the window is touched.
#include <QLineEdit>
#include <QProgressBar>
#include <QTreeWidget>
#include <QWidget>
#include <gtest/gtest.h>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "ResultViews.h"

namespace snapmend::test {

template <typename T>
T* FindControl(const QWidget& window, int id)
{
    T* control = window.findChild<T*>(QStringLiteral("control%1").arg(id));
    if (!control)
        ADD_FAILURE() << "no control " << id;
    return control;
}

struct WindowControls {
    explicit WindowControls(const QWidget& w)
        : btnBrowse(FindControl<CStyledButton>(w, 1000)),
          lstDrives(FindControl<QTreeWidget>(w, 1001)),
          btnRecover(FindControl<CStyledButton>(w, 1002)),
          edtOutputDir(FindControl<QLineEdit>(w, 1003)),
          btnStart(FindControl<CStyledButton>(w, 1004)),
          lblOutputDir(FindControl<CStyledLabel>(w, 1005)),
          lblSelectDrive(FindControl<CStyledLabel>(w, 1008)),
          btnRefresh(FindControl<CStyledButton>(w, 1009)),
          lstPhotos(FindControl<PhotoListView>(w, 1010)),
          progress(FindControl<QProgressBar>(w, 1011)),
          lblProgress(FindControl<CStyledLabel>(w, 1012)),
          lblStatus(FindControl<CStyledLabel>(w, 1013)),
          lnkHelp(FindControl<CStyledLabel>(w, 1014)),
          lnkSettings(FindControl<CStyledLabel>(w, 1015)),
          lblLoading(FindControl<CStyledLabel>(w, 1016)),
          lstFiles(FindControl<FileListView>(w, 1017)),
          lnkSelectPhotos(FindControl<CStyledLabel>(w, 1018)),
          lnkSelectFiles(FindControl<CStyledLabel>(w, 1019))
    {
    }

    CStyledButton* btnBrowse;
    QTreeWidget* lstDrives;
    CStyledButton* btnRecover;
    QLineEdit* edtOutputDir;
    CStyledButton* btnStart;
    CStyledLabel* lblOutputDir;
    CStyledLabel* lblSelectDrive;
    CStyledButton* btnRefresh;
    PhotoListView* lstPhotos;
    QProgressBar* progress;
    CStyledLabel* lblProgress;
    CStyledLabel* lblStatus;
    CStyledLabel* lnkHelp;
    CStyledLabel* lnkSettings;
    CStyledLabel* lblLoading;
    FileListView* lstFiles;
    CStyledLabel* lnkSelectPhotos;
    CStyledLabel* lnkSelectFiles;
};

// Shorthand: Ctl(dialog).btnStart.
inline WindowControls Ctl(const QWidget& window) { return WindowControls(window); }

// The view the window shows the drive page in: every drive-page control visible.
inline bool DrivePageShown(const QWidget& window)
{
    const WindowControls c(window);
    for (QWidget* w : std::initializer_list<QWidget*>{c.btnBrowse, c.btnStart, c.btnRefresh, c.lstDrives,
                                                      c.lblSelectDrive, c.lblOutputDir, c.edtOutputDir})
        if (!w->isVisible())
            return false;
    return true;
}

}  // namespace snapmend::test
