#include "WindowView.h"

#include "ControlIds.h"

namespace snapmend {

std::vector<int> ControlsShownIn(WindowView view, bool resultsKept)
{
    switch (view) {
    case WindowView::Loading:
        return {IDC_LOADING};
    case WindowView::DrivePage: {
        std::vector<int> shown = {IDC_BROWSE,  IDC_START, IDC_REFRESH, IDC_DRIVE_LIST, IDC_SELECT_DRIVE_LABEL,
                                  IDC_OUTPUT_DIR_LABEL, IDC_OUTPUT_DIR};
        if (resultsKept)
            shown.push_back(IDC_BACK_TO_RESULTS);
        return shown;
    }
    case WindowView::Scanning:
        return {IDC_STATUS, IDC_PHOTO_LIST, IDC_FILE_LIST, IDC_RECOVER, IDC_PROGRESS_TEXT,
                IDC_FILTER, IDC_SORT,       IDC_COUNTS};
    case WindowView::Results:
        return {IDC_STATUS,  IDC_PHOTO_LIST, IDC_FILE_LIST,   IDC_SELECT_PHOTOS, IDC_SELECT_FILES,
                IDC_RECOVER, IDC_BACK_TO_DRIVES, IDC_OUTPUT_DIR, IDC_OUTPUT_DIR_LABEL, IDC_BROWSE,
                IDC_FILTER,  IDC_SORT,       IDC_COUNTS};
    case WindowView::Copying:
        return {IDC_STATUS, IDC_PHOTO_LIST, IDC_FILE_LIST, IDC_SELECT_PHOTOS, IDC_SELECT_FILES,
                IDC_PROGRESS, IDC_PROGRESS_TEXT, IDC_FILTER, IDC_SORT, IDC_COUNTS};
    }
    return {};
}

const std::vector<int>& ControlsOfViews()
{
    static const std::vector<int> all = {
        IDC_BROWSE,        IDC_DRIVE_LIST,   IDC_RECOVER,        IDC_OUTPUT_DIR,      IDC_START,
        IDC_OUTPUT_DIR_LABEL, IDC_SELECT_DRIVE_LABEL, IDC_REFRESH, IDC_PHOTO_LIST,    IDC_PROGRESS,
        IDC_PROGRESS_TEXT, IDC_STATUS,       IDC_LOADING,        IDC_FILE_LIST,       IDC_SELECT_PHOTOS,
        IDC_SELECT_FILES,  IDC_BACK_TO_DRIVES, IDC_BACK_TO_RESULTS, IDC_FILTER,       IDC_SORT,
        IDC_COUNTS};
    return all;
}

}  // namespace snapmend
