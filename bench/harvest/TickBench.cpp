// Prints the cost of one harvest tick with 10 and with 10 000 results already
// listed: a HarvestPass over the workspace where every entry but one new file is
// already shown (skipped through the listed-path set), and the tick that adds
// the new row.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "HarvestPass.h"
#include "ResultRows.h"

using namespace snapmend;

namespace {

struct Figures {
    double medianTickUs = 0;
    double newRowTickUs = 0;
};

Figures Measure(int listed)
{
    QTemporaryDir workspace;
    QDir(workspace.path()).mkpath(QStringLiteral("temp"));
    for (int i = 0; i < listed; ++i) {
        QFile f(QStringLiteral("%1/temp/f%2.dat").arg(workspace.path()).arg(i));
        f.open(QIODevice::WriteOnly);
        f.write("x");
    }
    // The pass as the window drives it, adding each reported file to a list.
    HarvestPass pass{QString()};
    QTreeWidget list;
    QObject::connect(&pass, &HarvestPass::fileFound,
                     [&](const QString& path, quint64 size) { list.addTopLevelItem(MakeFileRow(path, size)); });
    auto runPass = [&](std::vector<double>* ticks, double* newRow) {
        pass.Begin(workspace.path(), true, 0);
        while (!pass.AtEnd()) {
            const int rowsBefore = list.topLevelItemCount();
            QElapsedTimer timer;
            timer.start();
            pass.Step();
            const double us = static_cast<double>(timer.nsecsElapsed()) / 1e3;
            if (ticks)
                ticks->push_back(us);
            if (newRow && list.topLevelItemCount() > rowsBefore)
                *newRow = us;
        }
    };
    runPass(nullptr, nullptr);  // list everything
    QFile fresh(workspace.path() + QStringLiteral("/temp/new.dat"));
    fresh.open(QIODevice::WriteOnly);
    fresh.write("y");
    fresh.close();
    std::vector<double> ticks;
    Figures figures;
    runPass(&ticks, &figures.newRowTickUs);
    std::sort(ticks.begin(), ticks.end());
    figures.medianTickUs = ticks[ticks.size() / 2];
    if (list.topLevelItemCount() != listed + 1)
        std::fprintf(stderr, "unexpected row count %d\n", list.topLevelItemCount());
    return figures;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const Figures small = Measure(10);
    const Figures large = Measure(10000);
    std::printf("harvest tick, 10 listed:     median %.1f us, tick adding a row %.1f us\n", small.medianTickUs,
                small.newRowTickUs);
    std::printf("harvest tick, 10 000 listed: median %.1f us, tick adding a row %.1f us\n", large.medianTickUs,
                large.newRowTickUs);
    std::printf("ratio 10 000 / 10:           median %.2fx, adding a row %.2fx (target < 2x)\n",
                large.medianTickUs / small.medianTickUs, large.newRowTickUs / small.newRowTickUs);
    return 0;
}
