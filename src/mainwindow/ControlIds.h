#pragma once

namespace snapmend {

// The main window's controls. Tests find each one by its id (object name "control<id>").
enum ControlId : int {
    IDC_BROWSE = 1000,
    IDC_DRIVE_LIST = 1001,
    IDC_RECOVER = 1002,  // "Recover", or "Cancel" while a scan runs
    IDC_OUTPUT_DIR = 1003,
    IDC_START = 1004,
    IDC_OUTPUT_DIR_LABEL = 1005,
    IDC_SELECT_DRIVE_LABEL = 1008,
    IDC_REFRESH = 1009,
    IDC_PHOTO_LIST = 1010,
    IDC_PROGRESS = 1011,
    IDC_PROGRESS_TEXT = 1012,  // copy-out progress; the tip while a scan runs
    IDC_STATUS = 1013,
    IDC_HELP = 1014,
    IDC_SETTINGS = 1015,
    IDC_LOADING = 1016,
    IDC_FILE_LIST = 1017,
    IDC_SELECT_PHOTOS = 1018,
    IDC_SELECT_FILES = 1019,
    IDC_BACK_TO_DRIVES = 1020,   // results page: back to the drive page, results kept
    IDC_BACK_TO_RESULTS = 1021,  // drive page: back to the kept results
    IDC_FILTER = 1022,           // results: name or extension filter
    IDC_SORT = 1023,             // results: order of both lists
    IDC_COUNTS = 1024,           // results: how many photos, files and partial ones
};

}  // namespace snapmend
