// main() for GUI test executables: one QApplication (offscreen under CTest)
// and private folders per test.
#include <QApplication>
#include <gtest/gtest.h>

#include "HermeticFolders.h"

int main(int argc, char** argv)
{
    snapmend::test::PrivateFolders process;  // also for what the application makes at start
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    snapmend::test::HermeticFolders::Install();
    return RUN_ALL_TESTS();
}
