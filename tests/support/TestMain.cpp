// main() for test executables without widgets: private folders per test.
#include <gtest/gtest.h>

#include "HermeticFolders.h"

int main(int argc, char** argv)
{
    snapmend::test::PrivateFolders process;
    ::testing::InitGoogleTest(&argc, argv);
    snapmend::test::HermeticFolders::Install();
    return RUN_ALL_TESTS();
}
