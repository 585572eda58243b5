#include "ScaledJpeg.h"

#include <QFile>
#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

namespace snapmend {
namespace {

// libjpeg reports a fatal error through error_exit, which must not return:
// it jumps back to the decode, which gives up.
constexpr long kMaxDecoderMemory = 512L << 20;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void OnMessage(j_common_ptr, int) {}  // warnings of damaged files are expected here

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Whether the first scan of a progressive file holds the DC coefficients of every component.
bool FirstScanIsAllDc(const jpeg_decompress_struct& info)
{
    return info.comps_in_scan == info.num_components && info.Ss == 0 && info.Se == 0;
}

// The decode proper; separate so that nothing with a destructor lives in the
// frame that setjmp returns to twice.
bool Decode(jpeg_decompress_struct& info, int denominator, QImage& out)
{
    jpeg_read_header(&info, TRUE);
    if (info.num_components != 1 && info.num_components != 3)
        return false;  // CMYK and the like: left to the general decoder
    info.scale_num = 1;
    info.scale_denom = static_cast<unsigned>(denominator);
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    info.do_block_smoothing = FALSE;
    info.out_color_space = JCS_RGB;
    // A progressive file needs coefficient buffers for the whole picture;
    // beyond this the decoder gives up rather than take the machine's memory.
    info.mem->max_memory_to_use = kMaxDecoderMemory;
    const bool dcOnly = denominator == 8 && jpeg_has_multiple_scans(&info);
    info.buffered_image = dcOnly ? TRUE : FALSE;
    if (!jpeg_start_decompress(&info))
        return false;
    if (info.output_components != 3 || info.output_width == 0 || info.output_height == 0)
        return false;
    if (dcOnly) {
        // The first scan's header has been read: it must hold every component's DC.
        if (!FirstScanIsAllDc(info))
            return false;
        int status = JPEG_SUSPENDED;
        do
            status = jpeg_consume_input(&info);
        while (status != JPEG_SCAN_COMPLETED && status != JPEG_REACHED_EOI && status != JPEG_SUSPENDED);
        if (status == JPEG_SUSPENDED)
            return false;
        jpeg_start_output(&info, 1);
    }
    out = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height), QImage::Format_RGB888);
    if (out.isNull())
        return false;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.scanLine(static_cast<int>(info.output_scanline));
        if (jpeg_read_scanlines(&info, &row, 1) != 1)
            return false;
    }
    if (dcOnly)
        jpeg_finish_output(&info);
    return true;
}

}  // namespace

QImage DecodeJpegScaled(const QString& path, int denominator)
{
    if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8)
        return {};
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(QFile::encodeName(path).constData(), "rb"));
    if (!file)
        return {};
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = OnError;
    errors.pub.emit_message = OnMessage;
    QImage image;
    volatile bool ok = false;
    if (setjmp(errors.jump) == 0) {
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, file.get());
        ok = Decode(info, denominator, image);
    }
    jpeg_destroy_decompress(&info);  // also after a jump: frees what the decoder allocated
    return ok ? image : QImage();
}

}  // namespace snapmend
