// libFuzzer target for the EXIF preview finder: any bytes, no crash, no read
// outside the buffer, and a found preview always lies inside it.
#include <cstdlib>

#include "ExifPreview.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto preview = snapmend::FindExifPreview(data, size);
    if (preview && (preview->offset > size || size - preview->offset < preview->length))
        std::abort();
    return 0;
}
