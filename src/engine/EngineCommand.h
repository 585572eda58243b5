#pragma once
#include <QString>
#include <QStringList>

namespace snapmend {

struct EngineCommand {
    QString parameters;       // the engine's parameter line, as shown
    QStringList arguments;    // the same, one entry per argument, as the engine is started
    bool anyEnabled = false;  // false: no file type enabled, nothing to start
};

// The engine's command for an output folder, a device and the enabled file
// types (the engine's type keys found as substrings of `enabledFormats`):
//   /d "OUT" /cmd DEVICE fileopt,everything,enable,search
//   /d "OUT" /cmd DEVICE fileopt,everything,disable,jpg,enable,...search
EngineCommand BuildEngineCommand(const QString& engineOutputDir, const QString& deviceName,
                                 const QString& enabledFormats);

}  // namespace snapmend
