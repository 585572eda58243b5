#pragma once
#include <vector>

namespace snapmend {

enum class ControlKind { ListView, Button, Edit, Static, ProgressBar, ComboBox };

// Style bits of the controls that matter here.
enum ControlStyle : unsigned {
    StyleNone = 0,
    StyleBorder = 1u << 0,
    StyleTabStop = 1u << 1,
    StyleDisabled = 1u << 2,
    StyleGroup = 1u << 3,
    StyleReport = 1u << 4,          // list view: report (details) view
    StyleIconView = 1u << 5,        // list view: large icon view
    StyleSingleSelection = 1u << 6, // list view
    StyleShowSelectionAlways = 1u << 7,
    StyleAutoHScroll = 1u << 8,     // edit
    StyleCentered = 1u << 9,        // static: centred text
    StyleCenterVertically = 1u << 10,
};

// One control of a dialog template; position and size in dialog units.
struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;
    unsigned styles;
    int x, y, width, height;
};

struct DialogTemplate {
    const char* caption;
    int width, height;  // client size in dialog units
    std::vector<ControlTemplate> controls;
};

// Template 102: the main window.
const DialogTemplate& MainDialogTemplate();

}  // namespace snapmend
