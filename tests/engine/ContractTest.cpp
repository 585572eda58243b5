// The places that must agree with the engine's contract (carver/contract.h):
// the engine's parsers and types table, the file types dialog's boxes.
#include <QFile>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

#include "FileTypesTemplate.h"
#include "carver/contract.h"
#include "core/format.h"

using namespace carver::contract;

namespace {

std::vector<std::string> ContractKeys() { return {kTypeKeys.begin(), kTypeKeys.end()}; }

}  // namespace

TEST(Contract, EveryTypeKeyHasAParserAndEveryParserAKey)
{
    std::set<std::string> parsed;
    for (const carver::Format* format : carver::all_formats())
        parsed.insert(std::string(format->key));
    const std::vector<std::string> keys = ContractKeys();
    EXPECT_EQ(parsed, std::set<std::string>(keys.begin(), keys.end()));
}

TEST(Contract, TheTypesTableListsTheKeysInOrder)
{
    QFile table(qEnvironmentVariable("SNAPMEND_SOURCE_DIR") + "/carver/runtime/" +
                QString::fromLatin1(kTypesTableName.data(), static_cast<qsizetype>(kTypesTableName.size())));
    ASSERT_TRUE(table.open(QIODevice::ReadOnly)) << table.fileName().toStdString();
    std::vector<std::string> keys;
    while (!table.atEnd()) {
        const QByteArray line = table.readLine().trimmed();
        if (!line.isEmpty() && !line.startsWith('#'))
            keys.push_back(line.split('\t').first().toStdString());
    }
    EXPECT_EQ(keys, ContractKeys());
}

TEST(Contract, TheFileTypesDialogHasOneBoxPerKeyInOrder)
{
    std::vector<std::string> keys;
    for (const snapmend::TemplateItem& box : snapmend::FileTypeCheckBoxes()) {
        keys.push_back(box.key);
        if (keys.back() != "raw")
            EXPECT_EQ(std::string(box.text), "." + keys.back());
    }
    EXPECT_EQ(keys, ContractKeys());
}
