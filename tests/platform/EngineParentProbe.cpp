// Starts the engine the way the front-end does, prints its process id and
// waits to be killed.
#include <cstdio>
#include <unistd.h>

#include <QString>

#include "ChildProcess.h"

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const auto engine = snapmend::ChildProcess::Start(
        QString::fromLocal8Bit(argv[1]), {QStringLiteral("/d"), QString::fromLocal8Bit(argv[2]), QStringLiteral("/cmd"),
                                          QString::fromLocal8Bit(argv[3]), QStringLiteral("fileopt,everything,enable,search")});
    if (!engine)
        return 1;
    std::printf("%d\n", static_cast<int>(engine->Pid()));
    std::fflush(stdout);
    return engine->Wait();
}
