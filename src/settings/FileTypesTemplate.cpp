#include "FileTypesTemplate.h"

namespace snapmend {

const std::vector<TemplateItem>& FileTypesTemplate()
{
    using K = TemplateKind;
    static const std::vector<TemplateItem> items = {
        {IDOK_BUTTON, K::DefPushButton, "OK", 164, 198, 50, 14, nullptr},
        {IDCANCEL_BUTTON, K::PushButton, "Cancel", 228, 198, 50, 14, nullptr},
        {IDC_STATIC, K::Static, "Select only file types you expect to recover", 9, 10, 136, 8, nullptr},
        {IDC_DEFAULT_FORMATS, K::PushButton, "Default", 168, 7, 50, 14, nullptr},
        {IDC_STATIC, K::GroupBox, "Photos", 7, 26, 271, 34, nullptr},
        {IDC_STATIC, K::GroupBox, "Media", 7, 77, 271, 49, nullptr},
        {IDC_STATIC, K::GroupBox, "Others", 6, 141, 271, 49, nullptr},
        {1016, K::AutoCheckBox, ".jpg", 14, 40, 27, 10, "jpg"},
        {1017, K::AutoCheckBox, ".gif", 69, 40, 25, 10, "gif"},
        {1018, K::AutoCheckBox, ".png", 124, 40, 30, 10, "png"},
        {1019, K::AutoCheckBox, ".bmp", 179, 40, 31, 10, "bmp"},
        {1020, K::AutoCheckBox, ".tif", 234, 40, 23, 10, "tif"},
        {1021, K::AutoCheckBox, ".avi", 14, 91, 27, 10, "avi"},
        {1022, K::AutoCheckBox, ".mpg", 69, 91, 31, 10, "mpg"},
        {1023, K::AutoCheckBox, ".dat", 124, 91, 28, 10, "dat"},
        {1024, K::AutoCheckBox, ".wmv", 179, 91, 33, 10, "wmv"},
        {1025, K::AutoCheckBox, ".asf", 234, 91, 27, 10, "asf"},
        {1026, K::AutoCheckBox, ".mp3", 14, 108, 31, 10, "mp3"},
        {1027, K::AutoCheckBox, ".mp4", 69, 108, 31, 10, "mp4"},
        {1028, K::AutoCheckBox, ".mov", 124, 108, 31, 10, "mov"},
        {1029, K::AutoCheckBox, ".3gp", 179, 108, 30, 10, "3gp"},
        {1030, K::AutoCheckBox, ".rm", 234, 108, 25, 10, "rm"},
        {1031, K::AutoCheckBox, ".pdf", 13, 155, 28, 10, "pdf"},
        {1032, K::AutoCheckBox, ".swf", 68, 155, 29, 10, "swf"},
        {1033, K::AutoCheckBox, ".doc", 123, 155, 30, 10, "doc"},
        {1034, K::AutoCheckBox, ".txt", 178, 155, 25, 10, "txt"},
        {1035, K::AutoCheckBox, ".wav", 233, 155, 31, 10, "wav"},
        {1036, K::AutoCheckBox, ".pst", 13, 172, 27, 10, "pst"},
        {1037, K::AutoCheckBox, ".zip", 68, 172, 27, 10, "zip"},
        {1038, K::AutoCheckBox, ".rar", 123, 172, 26, 10, "rar"},
        {1039, K::AutoCheckBox, "Other raw files", 178, 172, 61, 10, "raw"},
    };
    return items;
}

std::vector<TemplateItem> FileTypeCheckBoxes()
{
    std::vector<TemplateItem> boxes;
    for (const TemplateItem& item : FileTypesTemplate()) {
        if (item.kind == TemplateKind::AutoCheckBox)
            boxes.push_back(item);
    }
    return boxes;
}

QStringList FormatKeys()
{
    QStringList keys;
    for (const TemplateItem& box : FileTypeCheckBoxes())
        keys << QString::fromLatin1(box.key);
    return keys;
}

bool FormatListHasKey(const QString& list, const QString& key)
{
    return !key.isEmpty() && list.contains(key, Qt::CaseSensitive);
}

}  // namespace snapmend
