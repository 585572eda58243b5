#include "EngineCommand.h"

namespace snapmend {
namespace {

// One enabled key of this group makes the engine look for every type it knows.
const char* const kAllTypesKeys[] = {"raw", "txt", "doc", "wav", "avi", "wmv", "mp4", "3gp"};

// Keys switched on one by one, in command-line order.
const char* const kSingleKeys[] = {"jpg", "gif", "png", "bmp", "tif", "mpg", "dat", "asf",
                                   "mp3", "mov", "rm",  "pdf", "swf", "pst", "zip", "rar"};

}  // namespace

EngineCommand BuildEngineCommand(const QString& engineOutputDir, const QString& deviceName,
                                 const QString& enabledFormats)
{
    EngineCommand command;
    QString selection;
    for (const char* key : kAllTypesKeys) {
        if (enabledFormats.contains(QLatin1String(key))) {
            selection = QStringLiteral(" fileopt,everything,enable,");
            command.anyEnabled = true;
            break;
        }
    }
    if (!command.anyEnabled) {
        selection = QStringLiteral(" fileopt,everything,disable,");
        for (const char* key : kSingleKeys) {
            if (enabledFormats.contains(QLatin1String(key))) {
                selection += QLatin1String(key) + QStringLiteral(",enable,");
                command.anyEnabled = true;
            }
        }
    }
    // Device nodes never hold a space; a disk image file's path may.
    const QString device = deviceName.contains(QLatin1Char(' ')) ? QLatin1Char('"') + deviceName + QLatin1Char('"')
                                                                  : deviceName;
    command.parameters = QStringLiteral("/d \"") + engineOutputDir + QStringLiteral("\" /cmd ") + device +
                         selection + QStringLiteral("search");
    return command;
}

QStringList SplitParameters(const QString& parameters)
{
    QStringList arguments;
    QString current;
    bool inQuotes = false;
    bool haveArgument = false;
    for (QChar c : parameters) {
        if (c == QLatin1Char('"')) {
            inQuotes = !inQuotes;
            haveArgument = true;
        } else if (c == QLatin1Char(' ') && !inQuotes) {
            if (haveArgument)
                arguments.append(current);
            current.clear();
            haveArgument = false;
        } else {
            current.append(c);
            haveArgument = true;
        }
    }
    if (haveArgument)
        arguments.append(current);
    return arguments;
}

}  // namespace snapmend
