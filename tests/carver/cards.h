#pragma once
// Memory cards as cameras and phones leave them, built for tests and
// benches, and the tally of what a scan gave back from them.
#include <string>
#include <vector>

#include "helpers.h"

namespace carver_test {

struct CardFile {
    std::string name;  // as written, e.g. "DSC_0012.JPG"
    Bytes data;
    int pieces = 0;    // where its clusters lie on the card
};

struct Card {
    std::string label;
    std::vector<CardFile> files;  // the deleted files the tally counts (fragmented ones)
    std::vector<Bytes> others;    // every other file the card held: a partial may not hold their bytes
};

// A 540 MiB FAT32 card (sparse), 8 KiB clusters: 90 photos written in order,
// every other one deleted (the last kept), 23 larger ones written first-fit
// into the holes (in two or more pieces each, kept photos between them),
// then every photo deleted.
// False when a tool (ImageMagick, mkfs.vfat, mtools) is missing or fails.
bool make_camera_card(const std::string& img, const TempDir& tmp, Card& card);

// A 96 MiB exFAT card, 32 KiB clusters: photos (one progressive) taken while
// three 1080p H.264 + AAC videos and an MP3 voice memo record (their writes
// alternate in 32-128 KiB appends), holes left by deleted photos refilled by
// later ones, then most files deleted; a stretch of the second clip, the
// third clip's movie box, a photo's last pieces and the progressive photo
// after its first 128 KiB overwritten.
// False when a tool (ffmpeg, ImageMagick, mkfs.exfat) is missing or fails.
bool make_phone_card(const std::string& img, const TempDir& tmp, Card& card);

struct Tally {
    int whole = 0;       // byte for byte
    int partial = 0;     // a `.partial.` file that is the file's own head
    int missing = 0;     // neither
    std::string missed;  // their names
    std::string foreign; // partial files holding bytes that are not their file's
    std::string unplayable;  // partial clips and progressive photos a decoder reports errors in
};

// A partial file is its original's first bytes, closed at most by its
// format's end (a JPEG end marker, a GIF trailer, a PNG IEND chunk).
bool own_head(const Bytes& part, const Bytes& original);

// True when a decoder reads the media file at `path` without an error.
bool plays(const std::string& path);

// True when a prober gives the media file at `path` a positive duration.
bool lasts(const std::string& path);

// What `out` (a scan's output folder) holds of the card's files.
Tally tally(const std::string& out, const Card& card);

}  // namespace carver_test
