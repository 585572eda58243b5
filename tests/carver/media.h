#pragma once
// Media samples made once per process with ffmpeg and ImageMagick (WebP,
// HEIC, AVIF), plus a Video CD ".dat" wrapped from an MPEG-1 stream.
#include <string>
#include <vector>

#include "helpers.h"

namespace carver_test {

// Empty when ffmpeg is missing; a sample whose tool lacks an encoder is left out.
const std::vector<Sample>& media_samples();
const Sample& media_sample(const std::string& name);

// The RIFF CDXA file a Video CD holds: `mpeg` in 2324-byte Mode 2 Form 2 sectors.
Bytes cdxa_wrap(const Bytes& mpeg);

}  // namespace carver_test
