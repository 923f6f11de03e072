// Engine starts that fail, over and over in one process: each must leave neither a descriptor
// nor a child behind, or a long-lived caller would run out of both.

#include <stdlib.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/process.h"

namespace kestrowan {
namespace {

namespace fs = std::filesystem;

// The descriptor numbers this process holds; the listing's own is among them both times.
std::vector<std::string> openDescriptors() {
    std::vector<std::string> fds;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd")) {
        fds.push_back(entry.path().filename().string());
    }
    std::sort(fds.begin(), fds.end());
    return fds;
}

class FailedStart : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kestrowan-unit-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path dir_;
};

TEST_F(FailedStart, LeavesNoDescriptorOrChildBehind) {
    const fs::path notExecutable = dir_ / "engine.txt";
    std::ofstream(notExecutable) << "uciok\n";
    fs::permissions(notExecutable, fs::perms::owner_read | fs::perms::owner_write);
    struct Case {
        const char* name;
        std::string program;
        std::string workingDirectory;
        int error;
    };
    // Each fails in the child, after the fork: the costly way, with the most to clean up.
    const Case cases[] = {
        {"missing program", (dir_ / "no-such-engine").string(), "", ENOENT},
        {"not executable", notExecutable.string(), "", EACCES},
        {"a directory", dir_.string(), "", EACCES},
        {"missing working directory", "/bin/true", (dir_ / "gone").string(), ENOENT},
    };
    const std::vector<std::string> before = openDescriptors();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int attempt = 0; attempt < 50; ++attempt) {
            errno = 0;
            const Handle process =
                startProcess(c.program.c_str(), c.program.c_str(), c.workingDirectory.c_str());
            ASSERT_EQ(process, kNoHandle);
            ASSERT_EQ(errno, c.error) << "attempt " << attempt;
        }
    }
    EXPECT_EQ(openDescriptors(), before);
    // Every child that failed has been reaped: none is left to collect, or to sit as a zombie.
    errno = 0;
    const pid_t reaped = ::waitpid(-1, nullptr, WNOHANG);
    EXPECT_TRUE(reaped == 0 || (reaped == -1 && errno == ECHILD))
        << "an unreaped child: " << reaped;
}

}  // namespace
}  // namespace kestrowan
