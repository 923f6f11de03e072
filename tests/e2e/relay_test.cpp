// What the filter passes, changes and keeps back on its way between GUI and engine.

#include <algorithm>
#include <string>
#include <vector>

#include "filter_test.h"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

Lines linesFrom(const ChildProcess& filter, std::size_t first) {
    const Lines all = filter.lines();
    return first < all.size() ? Lines(all.begin() + static_cast<std::ptrdiff_t>(first), all.end())
                              : Lines();
}

Lines handshakeLines() {
    Lines lines = {"id name Kestrowan test engine", "id author the kestrowan tests",
                   "option name Hash type spin default 16 min 1 max 1024"};
    lines.insert(lines.end(), kFilterOptions.begin(), kFilterOptions.end());
    lines.push_back("uciok");
    return lines;
}

TEST_F(FilterTest, EveryUciokComesAfterTheFilterOptions) {
    auto filter = startFilter(engine());
    for (int round = 0; round < 2; ++round) {
        const std::size_t start = filter->lines().size();
        filter->send("uci");
        ASSERT_TRUE(filter->expectLine("uciok"));
        EXPECT_EQ(linesFrom(*filter, start), handshakeLines()) << "round " << round;
    }
    quitCleanly(*filter);
}

TEST_F(FilterTest, OwnSetoptionsAreConsumedAndOthersForwarded) {
    const Lines consumed = {
        "setoption name TimeInfo@Kestrowan value 0",
        "setoption name TimeCurrmove@Kestrowan value 10",
        "setoption name TimeQuit@Kestrowan value 500",
        "setoption name RemoveNonUci@Kestrowan value false",
        "setoption name RemoveStop@Kestrowan value true",
        "setoption name TimeInfo@Kestrowan value not-a-number",
    };
    const Lines forwarded = {
        "setoption name Hash value 32",
        "setoption name TimeInfo@Kestrowan",
        "setoption name Clear Hash",
    };
    auto filter = startHandshaken();
    for (const std::string& line : consumed) {
        filter->send(line);
    }
    for (const std::string& line : forwarded) {
        filter->send(line);
    }
    sync(*filter);
    for (const std::string& line : consumed) {
        EXPECT_FALSE(engineReceived(line)) << line;
    }
    for (const std::string& line : forwarded) {
        EXPECT_TRUE(engineReceived(line)) << line;
    }
    quitCleanly(*filter);
}

const std::string kPlainInfo = "info depth 1 score cp 12 nodes 20 pv e2e4";
const std::string kCurrmoveInfo = "info currmove e2e4 currmovenumber 1";

struct InfoCase {
    const char* name;
    Lines settings;
    bool plainPasses;
    bool currmovePasses;
};

// Names the case in test listings, instead of a dump of its bytes.
void PrintTo(const InfoCase& c, std::ostream* os) {
    *os << c.name;
}

class InfoWindowTest : public FilterTest, public ::testing::WithParamInterface<InfoCase> {};

// The test engine prints a plain info line and a currmove line as soon as it gets "go", and
// answers with "bestmove" on "stop": within the windows, only what they allow gets through.
TEST_P(InfoWindowTest, InfoRightAfterGo) {
    const InfoCase& c = GetParam();
    auto filter = startHandshaken({"--info-on-go"});
    for (const std::string& line : c.settings) {
        filter->send(line);
    }
    const std::size_t start = filter->lines().size();
    filter->send("go infinite");
    Lines expected;
    if (c.plainPasses) {
        ASSERT_TRUE(filter->expectLine(kPlainInfo));
        expected.push_back(kPlainInfo);
    }
    if (c.currmovePasses) {
        ASSERT_TRUE(filter->expectLine(kCurrmoveInfo));
        expected.push_back(kCurrmoveInfo);
    }
    filter->send("stop");
    ASSERT_TRUE(filter->expectLine("bestmove e2e4"));
    expected.push_back("bestmove e2e4");
    EXPECT_EQ(linesFrom(*filter, start), expected);
    quitCleanly(*filter);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, InfoWindowTest,
    ::testing::Values(InfoCase{"Defaults", {}, false, false},
                      InfoCase{"BothZero",
                               {"setoption name TimeInfo@Kestrowan value 0",
                                "setoption name TimeCurrmove@Kestrowan value 0"},
                               true,
                               true},
                      InfoCase{"CurrmoveLonger",
                               {"setoption name TimeInfo@Kestrowan value 0",
                                "setoption name TimeCurrmove@Kestrowan value 60000"},
                               true,
                               false}),
    [](const auto& info) { return info.param.name; });

struct StopCase {
    const char* name;
    Lines flags;
    Lines before;        // commands sent before the "stop" under test
    bool awaitBestmove;  // a search is answered before that "stop" is sent
    int stopsReceived;   // by the engine, in all
    Lines answer;        // the filter's output from that "stop" to "readyok"
};

void PrintTo(const StopCase& c, std::ostream* os) {
    *os << c.name;
}

class StopTest : public FilterTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopTest, StopReachesEngineOnlyWhenItMeansSomething) {
    const StopCase& c = GetParam();
    auto filter = startHandshaken(c.flags);
    for (const std::string& line : c.before) {
        filter->send(line);
    }
    if (c.awaitBestmove) {
        ASSERT_TRUE(filter->expectLine("bestmove e2e4"));
    }
    const std::size_t start = filter->lines().size();
    filter->send("stop");
    sync(*filter);
    EXPECT_EQ(linesFrom(*filter, start), c.answer);
    const Lines log = engineLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "stop"), c.stopsReceived);
    quitCleanly(*filter);
}

const Lines kLongSearch = {"--search-ms", "20000"};

INSTANTIATE_TEST_SUITE_P(
    Cases, StopTest,
    ::testing::Values(
        StopCase{"Idle", {}, {}, false, 0, {"readyok"}},
        StopCase{
            "DuringSearch", kLongSearch, {"go infinite"}, false, 1, {"bestmove e2e4", "readyok"}},
        StopCase{"AfterBestmove", {}, {"go depth 1"}, true, 0, {"readyok"}},
        // Two "go" and one "bestmove" leave a search outstanding.
        StopCase{"AfterTwoGoesOneAnswer",
                 kLongSearch,
                 {"go infinite", "go infinite", "stop"},
                 true,
                 2,
                 {"readyok"}},
        StopCase{"IdleWithRemoveStopOff",
                 {},
                 {"setoption name RemoveStop@Kestrowan value false"},
                 false,
                 1,
                 {"readyok"}}),
    [](const auto& info) { return info.param.name; });

TEST_F(FilterTest, ChatterIsRemovedByDefault) {
    auto filter = startHandshaken({"--chatter"});
    filter->send("echo some free text");
    filter->send("echo ");
    sync(*filter);
    Lines expected = handshakeLines();
    expected.push_back("readyok");
    EXPECT_EQ(filter->lines(), expected);
    quitCleanly(*filter);
}

TEST_F(FilterTest, ChatterPassesWhileRemoveNonUciIsOff) {
    auto filter = startFilter(engine({"--chatter"}));
    filter->send("setoption name RemoveNonUci@Kestrowan value false");
    filter->send("uci");
    ASSERT_TRUE(filter->expectLine("uciok"));
    ASSERT_TRUE(filter->expectLine("Scripted test engine, at your service"));
    ASSERT_TRUE(filter->expectLine(""));
    sync(*filter);

    // Back on: free text is dropped again.
    filter->send("setoption name RemoveNonUci@Kestrowan value true");
    const std::size_t start = filter->lines().size();
    filter->send("echo more free text");
    sync(*filter);
    EXPECT_EQ(linesFrom(*filter, start), Lines{"readyok"});
    quitCleanly(*filter);
}

// Engine lines before the first "go": what a GUI may see passes, each trimmed at its end only
// and ended with a single line feed, whatever the engine ends its lines with.
TEST_F(FilterTest, EngineLinesArriveTrimmedWithLineFeeds) {
    auto filter = startHandshaken({"--crlf"});
    const Lines passing = {
        "info string before any search", "  readyok",       "copyprotection ok",
        "registration checking",         "id name Renamed", "\tbestmove e2e4",
    };
    for (const std::string& line : passing) {
        filter->send("echo " + line);
    }
    filter->send("echo nonsense that no GUI wants");
    filter->send("echo uciokay");
    sync(*filter);
    Lines expected = handshakeLines();
    expected.insert(expected.end(), passing.begin(), passing.end());
    expected.push_back("readyok");
    EXPECT_EQ(filter->lines(), expected);
    EXPECT_EQ(filter->stdoutBytes().find('\r'), std::string::npos);
    quitCleanly(*filter);
}

}  // namespace
}  // namespace e2e
