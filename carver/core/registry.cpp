#include "core/format.h"

namespace carver {

// One accessor per formats/<key>.cpp.
const Format& jpg_format();
const Format& png_format();
const Format& gif_format();
const Format& bmp_format();
const Format& tif_format();

const std::vector<const Format*>& all_formats() {
    static const std::vector<const Format*> formats = {
        &jpg_format(), &png_format(), &gif_format(), &bmp_format(), &tif_format(),
    };
    return formats;
}

const Format* find_format(std::string_view key) {
    for (const Format* f : all_formats())
        if (f->key == key) return f;
    return nullptr;
}

const std::vector<std::string_view>& command_keys() {
    static const std::vector<std::string_view> keys = {
        "jpg", "gif", "png", "bmp", "tif", "avi", "mpg", "dat", "wmv", "asf", "mp3", "mp4",
        "mov", "3gp", "rm",  "pdf", "swf", "doc", "txt", "wav", "pst", "zip", "rar", "raw",
    };
    return keys;
}

}  // namespace carver
