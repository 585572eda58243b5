#pragma once

namespace snapmend {

class UiServices;
class SystemInfo;
class DriveSource;

// The operating-system services the program uses, chosen in one place.
// Production code takes them from here; tests fill in their own where the
// real one would block, need a person, or need rights the test lacks.
struct PlatformServices {
    UiServices* ui = nullptr;
    SystemInfo* system = nullptr;
    DriveSource* drives = nullptr;

    // The Linux implementations, alive for the whole process.
    static PlatformServices& Default();
};

}  // namespace snapmend
