// Handlers whose bodies belong to the subsystems that are still being built.
// Each moves to its subsystem's MainDialog<Topic>.cpp when that lands.
#include "MainDialog.h"

namespace snapmend {

void MainDialog::StartRecovery() {}
void MainDialog::OnCopyTick() {}
void MainDialog::OnPhotoLinkClicked() {}
void MainDialog::OnFileLinkClicked() {}

}  // namespace snapmend
