#pragma once
// What the engine promises its callers: the type keys and their order, the
// command line's words, the exit codes and the names of the installed pieces.
// Plain C++17 with no dependency, so the front-end includes it as it is; the
// engine's registry, its types table and the front-end's file types dialog
// and command builder are built from it or checked against it.
#include <array>
#include <string_view>

namespace carver::contract {

// Every type key, in command-line order (also the order of formats/types.tsv
// and of the file types dialog's boxes).
inline constexpr std::array<std::string_view, 24> kTypeKeys = {
    "jpg", "gif", "png", "bmp", "tif", "avi", "mpg", "dat", "wmv", "asf", "mp3", "mp4",
    "mov", "3gp", "rm",  "pdf", "swf", "doc", "txt", "wav", "pst", "zip", "rar", "raw",
};

constexpr bool IsTypeKey(std::string_view key)
{
    for (std::string_view known : kTypeKeys)
        if (known == key)
            return true;
    return false;
}

// The command line: /d OUT /cmd DEVICE fileopt,<key|everything>,<enable|disable>,...,search
inline constexpr std::string_view kOutputSwitch = "/d";
inline constexpr std::string_view kDeviceSwitch = "/cmd";
inline constexpr std::string_view kSelectionStart = "fileopt";
inline constexpr std::string_view kEveryType = "everything";
inline constexpr std::string_view kEnable = "enable";
inline constexpr std::string_view kDisable = "disable";
inline constexpr std::string_view kSelectionEnd = "search";

// Exit codes. A signal that ends the engine gives kExitSignalBase + the signal.
inline constexpr int kExitComplete = 0;
inline constexpr int kExitOutputFailed = 1;  // a carved file could not be written (disk full)
inline constexpr int kExitBadInput = 2;      // the device, the output folder or the command was refused
inline constexpr int kExitSomeUnreadable = 3;  // read to its end, but some areas could not be read
inline constexpr int kExitSignalBase = 128;

// The installed pieces, side by side in one folder.
inline constexpr std::string_view kProgramName = "photo";
inline constexpr std::string_view kLibraryName = "libcarver.so";
inline constexpr std::string_view kRuntimeTreeName = "formats";          // a folder
inline constexpr std::string_view kTypesTableName = "formats/types.tsv";  // key, extension, maximum size

}  // namespace carver::contract
