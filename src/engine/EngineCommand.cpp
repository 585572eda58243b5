#include "EngineCommand.h"

#include "carver/contract.h"

namespace snapmend {
namespace {

using namespace carver::contract;

// One enabled key of this group makes the engine look for every type it knows.
constexpr std::string_view kAllTypesKeys[] = {"raw", "txt", "doc", "wav", "avi", "wmv", "mp4", "3gp"};

constexpr bool AllKeysKnown()
{
    for (std::string_view key : kAllTypesKeys)
        if (!IsTypeKey(key))
            return false;
    return true;
}
static_assert(AllKeysKnown(), "every all-types key is one of the engine's type keys");

QString Text(std::string_view text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }

bool IsAllTypesKey(std::string_view key)
{
    for (std::string_view allTypes : kAllTypesKeys)
        if (allTypes == key)
            return true;
    return false;
}

// The selection word: fileopt,everything,enable,search or
// fileopt,everything,disable,<key>,enable,...,search with the other keys
// switched on one by one, in the engine's key order.
QString Selection(const QString& enabledFormats, bool& anyEnabled)
{
    const QChar comma = QLatin1Char(',');
    const QString start = Text(kSelectionStart) + comma + Text(kEveryType) + comma;
    anyEnabled = false;
    for (std::string_view key : kAllTypesKeys) {
        if (enabledFormats.contains(Text(key))) {
            anyEnabled = true;
            return start + Text(kEnable) + comma + Text(kSelectionEnd);
        }
    }
    QString selection = start + Text(kDisable) + comma;
    for (std::string_view key : kTypeKeys) {
        if (!IsAllTypesKey(key) && enabledFormats.contains(Text(key))) {
            selection += Text(key) + comma + Text(kEnable) + comma;
            anyEnabled = true;
        }
    }
    return selection + Text(kSelectionEnd);
}

}  // namespace

EngineCommand BuildEngineCommand(const QString& engineOutputDir, const QString& deviceName,
                                 const QString& enabledFormats)
{
    EngineCommand command;
    const QString selection = Selection(enabledFormats, command.anyEnabled);
    command.arguments = {Text(kOutputSwitch), engineOutputDir, Text(kDeviceSwitch), deviceName, selection};
    // Device nodes never hold a space; a disk image file's path may.
    const QString device = deviceName.contains(QLatin1Char(' ')) ? QLatin1Char('"') + deviceName + QLatin1Char('"')
                                                                  : deviceName;
    command.parameters = Text(kOutputSwitch) + QStringLiteral(" \"") + engineOutputDir + QStringLiteral("\" ") +
                         Text(kDeviceSwitch) + QLatin1Char(' ') + device + QLatin1Char(' ') + selection;
    return command;
}

}  // namespace snapmend
