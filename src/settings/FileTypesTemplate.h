#pragma once
#include <QString>
#include <QStringList>
#include <vector>

namespace snapmend {

// The file types dialog (template 132) as data, in dialog units.
inline constexpr int IDD_FILE_TYPES = 132;
inline constexpr int IDC_STATIC = -1;
inline constexpr int IDOK_BUTTON = 1;
inline constexpr int IDCANCEL_BUTTON = 2;
inline constexpr int IDC_DEFAULT_FORMATS = 1015;
inline constexpr int IDC_FIRST_FORMAT = 1016;
inline constexpr int kFileTypesDialogWidth = 285;
inline constexpr int kFileTypesDialogHeight = 219;

enum class TemplateKind { DefPushButton, PushButton, Static, GroupBox, AutoCheckBox };

struct TemplateItem {
    int id;
    TemplateKind kind;
    const char* text;
    int x, y, width, height;
    const char* key;  // the file type key of a check box, else nullptr
};

// Every control in creation (and tab) order.
const std::vector<TemplateItem>& FileTypesTemplate();

// The 24 check boxes, ids 1016..1039, in the order they are filled and read.
std::vector<TemplateItem> FileTypeCheckBoxes();

// The 24 type keys in the order they are written.
QStringList FormatKeys();

// Whether `key` counts as listed: a case-sensitive substring test, not a split
// at the commas, so hand-edited text ("jpgx", "tiff") is taken the same way.
bool FormatListHasKey(const QString& list, const QString& key);

}  // namespace snapmend
