#pragma once
#include <vector>

namespace snapmend {

// What the main window shows. Every change goes through MainDialog::SetView.
enum class WindowView {
    Loading,    // "Loading, please wait..." until the drives are listed
    DrivePage,  // the drive list, the output folder, Start
    Scanning,   // the results growing while the engine runs; Cancel
    Results,    // the results to choose from; Recover, Back, the output folder
    Copying,    // a recovery running: progress bar and text
};

// The controls `view` shows; every other control that some view shows is
// hidden. The Help and Settings links belong to no view: they always show.
// `resultsKept`: a scan's results wait on the results page.
std::vector<int> ControlsShownIn(WindowView view, bool resultsKept);

// Every control that some view shows.
const std::vector<int>& ControlsOfViews();

}  // namespace snapmend
