// The filter between real programs: a real engine behind it, and a real protocol adapter in
// front of it as its GUI.

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "filter_test.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The program's path from PATH, or from /usr/games where Debian puts chess programs; empty
// if it is not installed.
std::string findProgram(const std::string& name) {
    std::string dirs = "/usr/games";
    if (const char* path = std::getenv("PATH")) {
        dirs = std::string(path) + ":" + dirs;
    }
    std::istringstream in(dirs);
    for (std::string dir; std::getline(in, dir, ':');) {
        const fs::path candidate = fs::path(dir) / name;
        std::error_code error;
        if (!dir.empty() && fs::is_regular_file(candidate, error)) {
            return candidate.string();
        }
    }
    return "";
}

// KESTROWAN_STOCKFISH, or the installed one. A Windows build of the filter under Wine cannot
// drive the Linux program: it needs a Windows engine, named by that variable.
std::string findStockfish() {
    const char* configured = std::getenv("KESTROWAN_STOCKFISH");
    if (configured != nullptr && *configured != '\0') {
        return configured;
    }
    return underWine() ? "" : findProgram("stockfish");
}

bool isMove(std::string_view text) {
    static const std::regex kMove("[a-h][1-8][a-h][1-8][qrbn]?");
    return std::regex_match(text.begin(), text.end(), kMove);
}

TEST_F(FilterTest, StockfishSession) {
    const std::string stockfish = findStockfish();
    if (stockfish.empty()) {
        GTEST_SKIP() << "no stockfish that this build can start (KESTROWAN_STOCKFISH)";
    }
    auto filter = startFilter({stockfish});
    filter->send("uci");
    ASSERT_TRUE(filter->expectLine("uciok"));
    const std::vector<long> engines = underWine() ? std::vector<long>() : childPids(filter->pid());
    const Lines handshake = filter->lines();
    ASSERT_GE(handshake.size(), kFilterOptions.size() + 3);
    EXPECT_TRUE(handshake[0].starts_with("id name Stockfish")) << filter->transcript();
    EXPECT_TRUE(std::any_of(handshake.begin(), handshake.end(), [](const std::string& line) {
        return line.starts_with("option name Hash type spin");
    }));
    EXPECT_TRUE(
        std::equal(kFilterOptions.begin(), kFilterOptions.end(),
                   handshake.end() - 1 - static_cast<std::ptrdiff_t>(kFilterOptions.size())));
    // Its greeting and the empty line after it are not UCI.
    for (const std::string& line : handshake) {
        EXPECT_TRUE(line.starts_with("id ") || line.starts_with("option ") || line == "uciok")
            << line;
    }

    filter->send("setoption name TimeInfo@Kestrowan value 0");
    filter->send("setoption name Hash value 32");
    sync(*filter);
    filter->send("position startpos moves e2e4");
    filter->send("go depth 12");
    // TimeInfo 0 lets the search's info through.
    ASSERT_TRUE(filter->expectLine(startsWith("info depth 12 ")));
    const std::optional<std::string> best = filter->expectLine(startsWith("bestmove "));
    ASSERT_TRUE(best);
    EXPECT_TRUE(isMove(best->substr(9, best->find(' ', 9) - 9))) << *best;
    quitCleanly(*filter);
    for (long pid : engines) {
        EXPECT_TRUE(waitProcessGone(pid)) << "stockfish " << pid << " still runs";
    }
}

// The adapter speaks the other protocol to us and UCI to the filter, with the real engine
// behind that: a game of a few moves runs through all three programs.
TEST_F(FilterTest, PolyglotPlaysThroughFilter) {
    const std::string polyglot = findProgram("polyglot");
    const std::string stockfish = findStockfish();
    if (polyglot.empty() || stockfish.empty()) {
        GTEST_SKIP() << "polyglot is not installed, or no stockfish that this build can start";
    }
    std::string command;
    for (const std::string& word : filterCommand()) {
        command += word + " ";
    }
    const fs::path ini = dir_ / "polyglot.ini";
    std::ofstream(ini) << "[PolyGlot]\n"
                       << "EngineDir = " << dir_.string() << "\n"
                       << "EngineCommand = " << command << stockfish << "\n"
                       << "Book = false\n"
                       << "[Engine]\n"
                       << "Hash = 16\n";

    SpawnOptions options;
    options.workingDirectory = dir_.string();
    ChildProcess adapter({polyglot, ini.string()}, options);
    adapter.send("xboard");
    adapter.send("protover 2");
    // The adapter offers the filter's options to its GUI: it has seen them from the filter.
    ASSERT_TRUE(adapter.expectLine(startsWith("feature option=\"TimeInfo@Kestrowan -spin")));
    ASSERT_TRUE(adapter.expectLine(startsWith("feature done=1")));
    adapter.send("new");
    adapter.send("sd 4");
    adapter.send("usermove e2e4");
    for (int ply = 0; ply < 3; ++ply) {
        if (ply > 0) {
            // Let the engine take the side to move: it plays both.
            adapter.send("force");
            adapter.send("go");
        }
        const std::optional<std::string> move = adapter.expectLine(startsWith("move "));
        ASSERT_TRUE(move);
        EXPECT_TRUE(isMove(move->substr(5))) << *move;
    }
    adapter.send("quit");
    const std::optional<int> status = adapter.waitExit();
    ASSERT_TRUE(status) << adapter.transcript();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
}

}  // namespace
}  // namespace e2e
