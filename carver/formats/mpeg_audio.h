#pragma once
// MPEG audio frame headers, shared by the MP3 carver and its stitcher.
#include <cstdint>

namespace carver {

struct MpegAudioFrame {
    uint32_t length = 0;  // bytes, header included
    uint32_t fixed = 0;   // version, layer and sampling rate bits: the same all through a stream
    bool v1 = false;      // MPEG-1 (not 2 or 2.5)
    bool layer3 = false;
    bool crc = false;     // a CRC-16 follows the header
    bool mono = false;
};

// Decodes a 4-byte frame header; false for reserved or free-format values
// and for frames shorter than 24 bytes.
bool decode_mpeg_audio(const uint8_t* h, MpegAudioFrame& f);

// The music's length (from the first frame to the last one's end) that the
// encoder's tag ("Xing"/"Info" and its extension) in the layer III frame `b`
// (f.length bytes) declares; 0 when it has none.
uint32_t mpeg_audio_music_length(const uint8_t* b, const MpegAudioFrame& f);

}  // namespace carver
