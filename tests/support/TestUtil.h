#pragma once
#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QElapsedTimer>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <sys/types.h>
#include <unistd.h>

#include "QtPrinters.h"

namespace snapmend::test {

// A file's whole content, empty when it cannot be read.
inline QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs `script` under `bash -euo pipefail`; true when it exits 0 within two
// minutes. `output` gets stdout and stderr together.
inline bool Bash(const QString& script, QString* output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("bash"), {QStringLiteral("-euo"), QStringLiteral("pipefail"), QStringLiteral("-c"), script});
    const bool ok = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return ok;
}

// Processes events until `condition` holds or `timeoutMs` passes; returns the condition.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// The engine (`photo`) started by `parent` (this process by default), 0 while there is none.
inline pid_t EngineChild(pid_t parent = ::getpid())
{
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        QFile stat(it.next() + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (line.contains("(photo)") && fields.size() > 1 && fields[1].toInt() == parent)
            return line.left(line.indexOf(' ')).toInt();
    }
    return 0;
}

// With SNAPMEND_SCREENSHOT_DIR set, saves the screen there as `name` (ImageMagick's import).
inline void Screenshot(const char* name)
{
    const QString dir = qEnvironmentVariable("SNAPMEND_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    WaitUntil([] { return false; }, 300);  // let the window paint
    QProcess::execute(QStringLiteral("import"), {"-window", "root", dir + "/" + name});
}

}  // namespace snapmend::test
