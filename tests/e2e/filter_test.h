// The fixture of the end-to-end tests: a temporary directory, the scripted engine's log in it,
// and the check that no engine started by the test is still running after it.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"

namespace e2e {

// True if `text` is exactly one error line of the filter with the given message (UTF-8), in
// the text encoding and line end of the build under test.
bool isErrorLine(std::string_view text, std::string_view message);

class FilterTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The scripted engine's command words: path, its log file, then `flags`.
    std::vector<std::string> engine(std::vector<std::string> flags = {}) const;

    std::unique_ptr<ChildProcess> startFilter(const std::vector<std::string>& engineArgs,
                                              SpawnOptions options = {}) const;

    // Starts the filter before the scripted engine and completes the "uci" handshake.
    std::unique_ptr<ChildProcess> startHandshaken(std::vector<std::string> flags = {}) const;

    // "isready" and its answer: every command sent before it has reached the engine then.
    static void sync(ChildProcess& filter);

    // Ends the filter with "quit" and expects it to end cleanly.
    static void quitCleanly(ChildProcess& filter);

    std::vector<std::string> engineLog() const;
    bool engineReceived(std::string_view line) const;
    // Every engine started in this test, from the "#pid" lines of its log.
    std::vector<long> enginePids() const;

    std::filesystem::path dir_;
    std::string logPath_;
};

}  // namespace e2e
