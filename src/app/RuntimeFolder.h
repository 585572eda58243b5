#pragma once

namespace snapmend {

// Qt's platform layer wants XDG_RUNTIME_DIR to name a folder private to the
// running user; a program started as root through sudo or pkexec has none,
// or another user's, and Qt warns on every start. Points it at the private
// runtime folder the single-instance lock uses (the variable is left as it
// is when it already names one). Call before the QApplication exists.
void UsePrivateRuntimeFolder();

}  // namespace snapmend
