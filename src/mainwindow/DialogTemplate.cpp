#include "DialogTemplate.h"

namespace snapmend {

const DialogTemplate& MainDialogTemplate()
{
    static const DialogTemplate dialog{
        "Kestrova Snapmend",
        469,
        307,
        {
            {1001, ControlKind::ListView, "",
             StyleBorder | StyleTabStop | StyleReport | StyleSingleSelection | StyleShowSelectionAlways, 9, 30, 453, 199},
            {1004, ControlKind::Button, "Start", StyleTabStop, 9, 266, 50, 14},
            {1000, ControlKind::Button, "Browse", StyleTabStop, 410, 247, 50, 14},
            {1009, ControlKind::Button, "Refresh", StyleTabStop, 197, 13, 50, 14},
            {1002, ControlKind::Button, "Recover", StyleTabStop, 409, 232, 50, 14},
            {1003, ControlKind::Edit, "", StyleDisabled | StyleBorder | StyleTabStop | StyleAutoHScroll, 9, 247, 392, 12},
            {1005, ControlKind::Static, "Location to save recovered photos", StyleGroup, 9, 236, 355, 8},
            {1008, ControlKind::Static, "Select drive from where to recover the photos", StyleGroup, 9, 16, 175, 8},
            {1010, ControlKind::ListView, "", StyleBorder | StyleTabStop | StyleIconView, 64, 263, 55, 23},
            {1011, ControlKind::ProgressBar, "", StyleBorder, 416, 266, 49, 14},
            {1012, ControlKind::Static, "Recovering photo 1 of 20", StyleGroup, 125, 262, 190, 8},
            {1013, ControlKind::Static, "Recovering data, please wait", StyleGroup, 9, 4, 305, 8},
            {1014, ControlKind::Static, "Help", StyleGroup, 435, 16, 25, 9},
            {1015, ControlKind::Static, "Settings", StyleGroup, 394, 16, 37, 9},
            {1016, ControlKind::Static, "Loading, please wait...", StyleGroup | StyleCentered | StyleCenterVertically,
             327, 4, 100, 8},
            {1017, ControlKind::ListView, "", StyleBorder | StyleTabStop | StyleReport, 392, 284, 77, 23},
            {1018, ControlKind::Static, "Unselect All Photos", StyleGroup, 9, 279, 379, 9},
            {1019, ControlKind::Static, "", StyleGroup, 9, 228, 385, 9},
        },
    };
    return dialog;
}

}  // namespace snapmend
