// The filter in front of the chess engines that Debian ships, each as its own case: every one
// of them talks a little differently (banners before the handshake, buffered output, an engine
// that needs an argument to speak UCI, one that does not end on "quit").

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"

namespace e2e {
namespace {

struct Peer {
    const char* name;  // also the Debian package
    std::vector<std::string> command;
    const char* idName;         // how its "id name" line starts
    const char* ownOption;      // an option line of its own that the GUI must still see
    const char* engineSetting;  // a setoption for one of its own options
    const char* search;
};

void PrintTo(const Peer& peer, std::ostream* out) {
    *out << peer.name;
}

const Peer kPeers[] = {
    {"toga2",
     {"/usr/games/toga2"},
     "id name Toga II",
     "option name Hash type spin default 128",
     "setoption name Hash value 16",
     "go depth 4"},
    {"glaurung",
     {"/usr/games/glaurung"},
     "id name Glaurung",
     "option name Aggressiveness type spin default 100",
     "setoption name Aggressiveness value 120",
     "go depth 4"},
    // Without --uci it speaks its own console protocol: the handshake proves that the filter
    // handed the engine its argument.
    {"gnuchess",
     {"/usr/games/gnuchess", "--uci"},
     "id name GNU Chess",
     "option name Hash type spin default 16",
     "setoption name Hash value 16",
     "go movetime 300"},
};

bool isMove(std::string_view text) {
    static const std::regex kMove("[a-h][1-8][a-h][1-8][qrbn]?");
    return std::regex_match(text.begin(), text.end(), kMove);
}

class PeerTest : public ::testing::TestWithParam<Peer> {};

TEST_P(PeerTest, HandshakeSearchAndQuit) {
    const Peer& peer = GetParam();
    if (::access(peer.command[0].c_str(), X_OK) != 0) {
        GTEST_SKIP() << peer.command[0] << " is not installed (Debian package " << peer.name << ")";
    }
    std::vector<std::string> argv = filterCommand();
    argv.insert(argv.end(), peer.command.begin(), peer.command.end());
    ChildProcess filter(argv);

    filter.send("uci");
    ASSERT_TRUE(filter.expectLine("uciok"));
    const std::vector<std::string> handshake = filter.lines();
    const std::vector<long> engines = underWine() ? std::vector<long>() : childPids(filter.pid());
    ASSERT_GE(handshake.size(), kFilterOptions.size() + 2) << filter.transcript();
    EXPECT_TRUE(handshake[0].starts_with(peer.idName)) << filter.transcript();
    EXPECT_TRUE(std::any_of(handshake.begin(), handshake.end(), [&](const std::string& line) {
        return line.starts_with(peer.ownOption);
    })) << filter.transcript();
    // Ours come last, just before "uciok"; the banners some engines print first are gone.
    EXPECT_TRUE(
        std::equal(kFilterOptions.begin(), kFilterOptions.end(),
                   handshake.end() - 1 - static_cast<std::ptrdiff_t>(kFilterOptions.size())))
        << filter.transcript();
    for (const std::string& line : handshake) {
        EXPECT_TRUE(line.starts_with("id ") || line.starts_with("option name ") || line == "uciok")
            << line;
    }

    filter.send("setoption name TimeInfo@Kestrowan value 0");
    filter.send(peer.engineSetting);
    filter.send("isready");
    ASSERT_TRUE(filter.expectLine("readyok"));

    filter.send("position startpos");
    filter.send(peer.search);
    const std::optional<std::string> best = filter.expectLine(startsWith("bestmove "));
    ASSERT_TRUE(best);
    const std::string move = best->substr(9, best->find(' ', 9) - 9);
    EXPECT_TRUE(isMove(move)) << *best;
    // With TimeInfo at 0 the search's progress is not withheld.
    const std::vector<std::string> all = filter.lines();
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const std::string& line) {
        return line.starts_with("info ");
    })) << filter.transcript();

    filter.send("quit");
    const std::optional<int> status = filter.waitExit();
    ASSERT_TRUE(status) << "the filter did not end after quit\n" << filter.transcript();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
    EXPECT_EQ(filter.stderrText(), "");
    for (long pid : engines) {
        EXPECT_TRUE(waitProcessGone(pid)) << peer.name << " (" << pid << ") still runs";
    }
}

INSTANTIATE_TEST_SUITE_P(Debian, PeerTest, ::testing::ValuesIn(kPeers),
                         [](const ::testing::TestParamInfo<Peer>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace e2e
