#pragma once

namespace snapmend {

// The main window's timers.
enum TimerId : int {
    TIMER_POLL_WORKSPACE = 1025,  // one-shot poll of the workspace
    TIMER_HARVEST = 1026,         // hands out the found files
    TIMER_COPY_OUT = 1027,        // polls the copy worker
    TIMER_STARTUP = 1028,         // one-shot start-up, 100 ms after opening
    TIMER_IMAGE_COPY = 1029,      // the status line of a copy to an image file
};

}  // namespace snapmend
