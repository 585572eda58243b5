#pragma once
#include <QString>

namespace snapmend {

// The status line's text after `current`: "Analyzing disk, please wait" with
// 0 to 5 dots, one more per call; five dots or any other text starts again at none.
QString NextStatusText(const QString& current);

}  // namespace snapmend
