#pragma once
// Every test runs with folders of its own: TMPDIR and XDG_RUNTIME_DIR point
// into a fresh folder in the real temporary folder, removed when the test
// ends. Scan workspaces, locks and QTemporaryDirs of a test (and of the
// programs it starts) never meet another test's or a running program's, and
// nothing is left behind.
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace snapmend::test {

// A temporary folder (as /tmp: sticky, open to all) and a private runtime
// folder, set in the environment for as long as this object lives.
class PrivateFolders {
public:
    PrivateFolders();
    ~PrivateFolders();
    PrivateFolders(const PrivateFolders&) = delete;
    PrivateFolders& operator=(const PrivateFolders&) = delete;

private:
    std::string m_root;
    std::string m_oldTmp;
    std::string m_oldRuntime;
    bool m_hadTmp = false;
    bool m_hadRuntime = false;
};

class HermeticFolders : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override { m_folders = std::make_unique<PrivateFolders>(); }
    void OnTestEnd(const ::testing::TestInfo&) override { m_folders.reset(); }

    // Adds the listener to the running gtest; call after InitGoogleTest.
    static void Install();

private:
    std::unique_ptr<PrivateFolders> m_folders;
};

}  // namespace snapmend::test
