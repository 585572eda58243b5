#include "core/format.h"

#include "carver/contract.h"

namespace carver {

// One accessor per formats/<key>.cpp.
const Format& jpg_format();
const Format& png_format();
const Format& gif_format();
const Format& bmp_format();
const Format& tif_format();
// Media (formats/riff.cpp, mpg.cpp, asf.cpp, mp3.cpp, isobmff.cpp, rm.cpp).
const Format& avi_format();
const Format& wav_format();
const Format& webp_format();
const Format& cdxa_format();
const Format& mpg_format();
const Format& wmv_format();
const Format& asf_format();
const Format& mp3_format();
const Format& mp4_format();
const Format& mov_format();
const Format& threegp_format();
const Format& heif_format();
const Format& rm_format();
// Documents and archives.
const Format& pdf_format();
const Format& zip_format();
const Format& doc_format();
const Format& txt_format();
const Format& rar_format();
const Format& swf_format();
const Format& pst_format();
// Camera raw photos, TIFF-based and RAF (formats/raw.cpp).
const Format& raw_format();

const std::vector<const Format*>& all_formats() {
    static const std::vector<const Format*> formats = {
        &jpg_format(), &png_format(), &gif_format(), &bmp_format(), &tif_format(),
        // media
        &avi_format(), &wav_format(), &webp_format(), &cdxa_format(), &mpg_format(),
        &wmv_format(), &asf_format(), &mp3_format(), &mp4_format(), &mov_format(),
        &threegp_format(), &heif_format(), &rm_format(),
        &pdf_format(), &zip_format(), &doc_format(), &txt_format(),
        &rar_format(), &swf_format(), &pst_format(), &raw_format(),
    };
    return formats;
}

const Format* find_format(std::string_view key) {
    for (const Format* f : all_formats())
        if (f->key == key) return f;
    return nullptr;
}

const std::vector<std::string_view>& command_keys() {
    static const std::vector<std::string_view> keys(contract::kTypeKeys.begin(), contract::kTypeKeys.end());
    return keys;
}

}  // namespace carver
