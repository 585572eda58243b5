#pragma once

namespace snapmend {

// Lowers the scheduling priority of the calling thread alone, so that the UI
// thread wins the cores from background copies and decodes. Does nothing when
// the system refuses; calling it again changes nothing.
void LowerThisThreadPriority();

}  // namespace snapmend
