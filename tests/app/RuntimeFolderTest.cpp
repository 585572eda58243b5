#include <QStandardPaths>
#include <gtest/gtest.h>

#include "Ownership.h"
#include "RuntimeFolder.h"

namespace snapmend {
namespace {

QStringList g_warnings;

void Collect(QtMsgType, const QMessageLogContext&, const QString& message) { g_warnings << message; }

TEST(RuntimeFolderTest, StartedWithoutARuntimeFolderQtFindsAPrivateOneAndSaysNothing)
{
    const QByteArray own = qgetenv("XDG_RUNTIME_DIR");
    for (const QByteArray& given : {QByteArray(), QByteArray("/tmp"), own}) {
        SCOPED_TRACE(given.constData());
        if (given.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", given);

        UsePrivateRuntimeFolder();

        const QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
        EXPECT_TRUE(IsPrivateFolder(folder)) << folder.toStdString();
        if (given == own) {
            EXPECT_EQ(folder.toUtf8(), own) << "a private folder already named stays";
        }
        g_warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(Collect);
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        qInstallMessageHandler(previous);
        EXPECT_EQ(runtime, folder);
        EXPECT_TRUE(g_warnings.isEmpty()) << g_warnings.join(QLatin1Char('\n')).toStdString();
    }
    qputenv("XDG_RUNTIME_DIR", own);
}

}  // namespace
}  // namespace snapmend
