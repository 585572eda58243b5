#pragma once
// The main window's controls, found by their ids (object name "control<id>")
// the way a user finds them on screen: no member of the window is touched.
#include <QLineEdit>
#include <QProgressBar>
#include <QTreeWidget>
#include <QWidget>
#include <gtest/gtest.h>

#include "CStyledButton.h"
#include "ControlIds.h"
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
        : btnBrowse(FindControl<CStyledButton>(w, IDC_BROWSE)),
          lstDrives(FindControl<QTreeWidget>(w, IDC_DRIVE_LIST)),
          btnRecover(FindControl<CStyledButton>(w, IDC_RECOVER)),
          edtOutputDir(FindControl<QLineEdit>(w, IDC_OUTPUT_DIR)),
          btnStart(FindControl<CStyledButton>(w, IDC_START)),
          lblOutputDir(FindControl<CStyledLabel>(w, IDC_OUTPUT_DIR_LABEL)),
          lblSelectDrive(FindControl<CStyledLabel>(w, IDC_SELECT_DRIVE_LABEL)),
          btnRefresh(FindControl<CStyledButton>(w, IDC_REFRESH)),
          lstPhotos(FindControl<PhotoListView>(w, IDC_PHOTO_LIST)),
          progress(FindControl<QProgressBar>(w, IDC_PROGRESS)),
          lblProgress(FindControl<CStyledLabel>(w, IDC_PROGRESS_TEXT)),
          lblStatus(FindControl<CStyledLabel>(w, IDC_STATUS)),
          lnkHelp(FindControl<CStyledLabel>(w, IDC_HELP)),
          lnkSettings(FindControl<CStyledLabel>(w, IDC_SETTINGS)),
          lblLoading(FindControl<CStyledLabel>(w, IDC_LOADING)),
          lstFiles(FindControl<FileListView>(w, IDC_FILE_LIST)),
          lnkSelectPhotos(FindControl<CStyledLabel>(w, IDC_SELECT_PHOTOS)),
          lnkSelectFiles(FindControl<CStyledLabel>(w, IDC_SELECT_FILES))
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
