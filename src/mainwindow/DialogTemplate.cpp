#include "DialogTemplate.h"

#include "ControlIds.h"

namespace snapmend {

const DialogTemplate& MainDialogTemplate()
{
    static const DialogTemplate dialog{
        "Kestrova Snapmend",
        469,
        307,
        {
            {IDC_DRIVE_LIST, ControlKind::ListView, "",
             StyleBorder | StyleTabStop | StyleReport | StyleSingleSelection | StyleShowSelectionAlways, 9, 30, 453, 199},
            {IDC_START, ControlKind::Button, "Start", StyleTabStop, 9, 266, 50, 14},
            {IDC_BROWSE, ControlKind::Button, "Browse", StyleTabStop, 410, 247, 50, 14},
            {IDC_REFRESH, ControlKind::Button, "Refresh", StyleTabStop, 197, 13, 50, 14},
            {IDC_RECOVER, ControlKind::Button, "Recover", StyleTabStop, 409, 232, 50, 14},
            {IDC_OUTPUT_DIR, ControlKind::Edit, "", StyleDisabled | StyleBorder | StyleTabStop | StyleAutoHScroll, 9, 247, 392, 12},
            {IDC_OUTPUT_DIR_LABEL, ControlKind::Static, "Location to save recovered photos", StyleGroup, 9, 236, 355, 8},
            {IDC_SELECT_DRIVE_LABEL, ControlKind::Static, "Select drive from where to recover the photos", StyleGroup, 9, 16, 175, 8},
            {IDC_PHOTO_LIST, ControlKind::ListView, "", StyleBorder | StyleTabStop | StyleIconView, 64, 263, 55, 23},
            {IDC_PROGRESS, ControlKind::ProgressBar, "", StyleBorder, 416, 266, 49, 14},
            {IDC_PROGRESS_TEXT, ControlKind::Static, "Recovering photo 1 of 20", StyleGroup, 125, 262, 190, 8},
            {IDC_STATUS, ControlKind::Static, "Recovering data, please wait", StyleGroup, 9, 4, 305, 8},
            {IDC_HELP, ControlKind::Static, "Help", StyleGroup, 435, 16, 25, 9},
            {IDC_SETTINGS, ControlKind::Static, "Settings", StyleGroup, 394, 16, 37, 9},
            {IDC_LOADING, ControlKind::Static, "Loading, please wait...", StyleGroup | StyleCentered | StyleCenterVertically,
             327, 4, 100, 8},
            {IDC_FILE_LIST, ControlKind::ListView, "", StyleBorder | StyleTabStop | StyleReport, 392, 284, 77, 23},
            {IDC_SELECT_PHOTOS, ControlKind::Static, "Unselect All Photos", StyleGroup, 9, 279, 379, 9},
            {IDC_SELECT_FILES, ControlKind::Static, "", StyleGroup, 9, 228, 385, 9},
            // The results page's own controls; placed when the window lays out its views.
            {IDC_BACK_TO_DRIVES, ControlKind::Button, "Back", StyleTabStop, 64, 266, 50, 14},
            {IDC_BACK_TO_RESULTS, ControlKind::Button, "Results", StyleTabStop, 64, 266, 50, 14},
            {IDC_FILTER, ControlKind::Edit, "", StyleBorder | StyleTabStop | StyleAutoHScroll, 9, 16, 130, 12},
            {IDC_SORT, ControlKind::ComboBox, "", StyleTabStop, 143, 16, 90, 12},
            {IDC_COUNTS, ControlKind::Static, "", StyleGroup, 237, 18, 150, 8},
        },
    };
    return dialog;
}

}  // namespace snapmend
