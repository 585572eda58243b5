#pragma once
#include <QString>
#include <QStringList>

namespace snapmend {

struct EngineCommand {
    QString parameters;       // the engine's parameter line
    bool anyEnabled = false;  // false: no file type enabled, nothing to start
};

// The engine's parameter line for an output folder, a device and the enabled
// file types (keys found as substrings of `enabledFormats`):
//   /d "OUT" /cmd DEVICE fileopt,everything,enable,search
//   /d "OUT" /cmd DEVICE fileopt,everything,disable,jpg,enable,...search
EngineCommand BuildEngineCommand(const QString& engineOutputDir, const QString& deviceName,
                                 const QString& enabledFormats);

// Splits a parameter line into arguments: spaces separate them, a pair of
// double quotes keeps spaces inside one argument and is removed.
QStringList SplitParameters(const QString& parameters);

}  // namespace snapmend
