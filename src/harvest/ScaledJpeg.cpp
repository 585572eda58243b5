#include "ScaledJpeg.h"

#include <cerrno>
#include <csetjmp>
#include <memory>
#include <cstdio>
#include <unistd.h>

#include <jpeglib.h>

namespace snapmend {
namespace {

// libjpeg reports a fatal error through error_exit, which must not return:
// it jumps back to the decode, which gives up.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void OnMessage(j_common_ptr, int) {}  // warnings of damaged files are expected here

// A source reading a descriptor with pread from its own position, so that
// the descriptor's offset stays where the caller left it.
struct DescriptorSource {
    static constexpr std::size_t kBufferBytes = 64 * 1024;
    jpeg_source_mgr pub;
    int fd;
    off_t position;
    JOCTET buffer[kBufferBytes];
};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr info)
{
    auto* src = reinterpret_cast<DescriptorSource*>(info->src);
    ssize_t got;
    do
        got = ::pread(src->fd, src->buffer, DescriptorSource::kBufferBytes, src->position);
    while (got < 0 && errno == EINTR);
    if (got <= 0) {
        // A truncated file ends as if its end-of-image marker came now.
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        got = 2;
    } else {
        src->position += got;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = static_cast<std::size_t>(got);
    return TRUE;
}

void SkipInput(j_decompress_ptr info, long count)
{
    auto* src = reinterpret_cast<DescriptorSource*>(info->src);
    if (count <= 0)
        return;
    const auto skip = static_cast<std::size_t>(count);
    if (skip <= src->pub.bytes_in_buffer) {
        src->pub.next_input_byte += skip;
        src->pub.bytes_in_buffer -= skip;
        return;
    }
    src->position += static_cast<off_t>(skip - src->pub.bytes_in_buffer);
    src->pub.bytes_in_buffer = 0;
}

void UseDescriptor(jpeg_decompress_struct& info, DescriptorSource& source, int fd)
{
    source.pub.init_source = InitSource;
    source.pub.fill_input_buffer = FillInput;
    source.pub.skip_input_data = SkipInput;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = TermSource;
    source.pub.next_input_byte = nullptr;
    source.pub.bytes_in_buffer = 0;
    source.fd = fd;
    source.position = 0;
    info.src = &source.pub;
}

// Whether the first scan of a progressive file holds the DC coefficients of every component.
bool FirstScanIsAllDc(const jpeg_decompress_struct& info)
{
    return info.comps_in_scan == info.num_components && info.Ss == 0 && info.Se == 0;
}

// Valid once jpeg_read_header has reached the first scan, which sizes the
// components in blocks. Each block keeps 64 coefficients of 2 bytes; a
// component is padded to whole MCUs.
JpegHeader HeaderOf(const jpeg_decompress_struct& info)
{
    JpegHeader header{QSize(static_cast<int>(info.image_width), static_cast<int>(info.image_height)),
                      info.num_components, info.progressive_mode != 0, 0};
    quint64 blocks = 0;
    for (int i = 0; i < info.num_components; ++i) {
        const jpeg_component_info& c = info.comp_info[i];
        blocks += (quint64{c.width_in_blocks} + static_cast<quint64>(c.h_samp_factor)) *
                  (quint64{c.height_in_blocks} + static_cast<quint64>(c.v_samp_factor));
    }
    if (header.progressive)
        header.coefficientBytes = blocks * DCTSIZE2 * sizeof(JCOEF);
    return header;
}

// The decode proper; separate so that nothing with a destructor lives in the
// frame that setjmp returns to twice.
bool Decode(jpeg_decompress_struct& info, int denominator, quint64 memoryCap, QImage& out)
{
    // Limits the coefficient buffers of a progressive file above all: beyond
    // the cap libjpeg gives up rather than allocate.
    info.mem->max_memory_to_use = static_cast<long>(memoryCap);
    jpeg_read_header(&info, TRUE);
    if (info.num_components != 1 && info.num_components != 3)
        return false;  // CMYK and the like: left to the general decoder
    info.scale_num = 1;
    info.scale_denom = static_cast<unsigned>(denominator);
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    info.do_block_smoothing = FALSE;
    info.out_color_space = JCS_RGB;
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

// Runs `work` on a fresh decompressor fed by `attach`; false after a fatal decoder error.
template <typename Attach, typename Work>
bool WithDecompressor(Attach attach, Work work)
{
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = OnError;
    errors.pub.emit_message = OnMessage;
    volatile bool ok = false;
    if (setjmp(errors.jump) == 0) {
        jpeg_create_decompress(&info);
        attach(info);
        ok = work(info);
    }
    jpeg_destroy_decompress(&info);  // also after a jump: frees what the decoder allocated
    return ok;
}

// Header reading needs no more than the tables: a small cap.
constexpr long kHeaderMemory = 16L << 20;

template <typename Attach>
std::optional<JpegHeader> ReadHeaderFrom(Attach attach)
{
    JpegHeader header;
    const bool ok = WithDecompressor(attach, [&header](jpeg_decompress_struct& info) {
        info.mem->max_memory_to_use = kHeaderMemory;
        if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK)
            return false;
        header = HeaderOf(info);
        return true;
    });
    if (!ok)
        return std::nullopt;
    return header;
}

}  // namespace

std::optional<JpegHeader> ReadJpegHeader(int fd)
{
    auto source = std::make_unique<DescriptorSource>();
    return ReadHeaderFrom([&source, fd](jpeg_decompress_struct& info) { UseDescriptor(info, *source, fd); });
}

std::optional<JpegHeader> ReadJpegHeader(const uchar* data, std::size_t size)
{
    if (size == 0)
        return std::nullopt;
    return ReadHeaderFrom([data, size](jpeg_decompress_struct& info) {
        jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    });
}

QImage DecodeJpegScaled(int fd, int denominator, quint64 memoryCap)
{
    if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8)
        return {};
    auto source = std::make_unique<DescriptorSource>();
    QImage image;
    const bool ok = WithDecompressor(
        [&source, fd](jpeg_decompress_struct& info) { UseDescriptor(info, *source, fd); },
        [&](jpeg_decompress_struct& info) { return Decode(info, denominator, memoryCap, image); });
    return ok ? image : QImage();
}

}  // namespace snapmend
