// The two relays over real pipes, each on its own thread as in the filter. The test stands in
// for both the GUI and the engine.
#include "filter/relay.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "pipe_support.h"
#include "platform/thread.h"

namespace kestrowan {
namespace {

using test::ChildProcess;
using test::kPatience;
using test::LineSource;
using test::TestPipe;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const Lines kAnnouncements = {
    "option name TimeCurrmove@Kestrowan type spin default 1500 min 0 max 5000",
    "option name TimeInfo@Kestrowan type spin default 300 min 0 max 5000",
    "option name TimeQuit@Kestrowan type spin default 1000 min 200 max 1800",
    "option name RemoveNonUci@Kestrowan type check default true",
    "option name RemoveStop@Kestrowan type check default true",
};

Lines operator+(Lines lines, const Lines& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

class RelayHarness {
public:
    RelayHarness() {
        state.guiIn = gui.readEnd();
        state.engineInWrite = engineIn.writeEnd();
        state.engineOutRead = engineOut.readEnd();
        // The relay closes its hold on the engine's output pipe on quit, as the filter does.
        state.engineOutChildEnd = ::dup(engineOut.writeEnd());
        state.guiOut = guiOut.writeEnd();
    }

    ~RelayHarness() {
        if (started_ && !ended_ && !quit()) {
            std::fprintf(stderr, "the command relay did not end after quit\n");
            std::abort();
        }
        const Handle childEnd = state.engineOutChildEnd.exchange(kNoHandle);
        if (childEnd != kNoHandle) {
            ::close(static_cast<int>(childEnd));
        }
    }

    RelayHarness(const RelayHarness&) = delete;
    RelayHarness& operator=(const RelayHarness&) = delete;

    void start() {
        state.outputThread = startThread(&RelayHarness::outputMain, this, 256000);
        if (state.outputThread == kNoHandle) {
            std::perror("startThread");
            std::abort();
        }
        commandsEnd_ = commandsEnded_.get_future();
        commands_ = std::thread([this] {
            runCommandRelay(state);
            commandsEnded_.set_value();
        });
        started_ = true;
    }

    void fromGui(std::string_view line) {
        test::writeAll(gui.writeEnd(), std::string(line) + '\n');
    }

    void fromEngine(std::string_view line) {
        test::writeAll(engineOut.writeEnd(), std::string(line) + '\n');
    }

    // Sends "quit" and waits for the command relay to return and the output thread to end.
    // False if the command relay is still running after `patience`.
    bool quit(std::chrono::milliseconds patience = kPatience) {
        fromGui("quit");
        if (commandsEnd_.wait_for(patience) != std::future_status::ready) {
            return false;
        }
        commands_.join();
        // The relay gives the output thread 300 ms and then goes on without it; one that was
        // still running then has not been joined and is joined here.
        if (!outputEnded_.load() && !joinThread(state.outputThread, kPatience.count())) {
            std::fprintf(stderr, "the output relay did not end after quit\n");
            std::abort();
        }
        ended_ = true;
        return true;
    }

    // For a run that must end the process: returns only if the command relay returns.
    void waitForCommandRelay() {
        commandsEnd_.wait();
        commands_.join();
    }

    TestPipe gui;        // GUI commands in
    TestPipe engineIn;   // what reaches the engine
    TestPipe engineOut;  // engine output in
    TestPipe guiOut;     // what reaches the GUI
    FilterState state;
    LineSource engineSees{engineIn.readEnd()};
    LineSource guiSees{guiOut.readEnd()};

private:
    static void outputMain(void* self) {
        auto* harness = static_cast<RelayHarness*>(self);
        outputThreadMain(&harness->state);
        harness->outputEnded_.store(true);
    }

    std::thread commands_;
    std::promise<void> commandsEnded_;
    std::future<void> commandsEnd_;
    std::atomic<bool> outputEnded_{false};
    bool started_ = false;
    bool ended_ = false;
};

std::string setoption(std::string_view name, std::string_view value) {
    return "setoption name " + std::string(name) + "@Kestrowan value " + std::string(value);
}

Lines next(LineSource& source, std::size_t count) {
    Lines lines;
    while (lines.size() < count) {
        std::optional<std::string> line = source.next();
        if (!line) {
            break;
        }
        lines.push_back(*line);
    }
    return lines;
}

TEST(CommandRelay, ForwardsConsumesOrDropsEachCommand) {
    struct Case {
        const char* name;
        Lines fromGui;
        Lines toEngine;  // before the "quit" that ends every case
    };
    const Case cases[] = {
        {"stop outside a search is dropped", {"stop", "isready"}, {"isready"}},
        {"stop stays with RemoveStop off", {setoption("RemoveStop", "false"), "stop"}, {"stop"}},
        {"stop during a search", {"go infinite", "stop"}, {"go infinite", "stop"}},
        {"own options consumed, others forwarded",
         {setoption("TimeInfo", "5"), "setoption name Hash value 16",
          "setoption name TimeInfo@Kestrowan", setoption("RemoveNonUci", "false")},
         {"setoption name Hash value 16", "setoption name TimeInfo@Kestrowan"}},
        {"trailing white space trimmed, leading kept",
         {"  isready \t\r", "", "ucinewgame\r"},
         {"  isready", "", "ucinewgame"}},
        {"anything else passes",
         {"debug on", "Hello there", "ponderhit"},
         {"debug on", "Hello there", "ponderhit"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RelayHarness relay;
        relay.start();
        for (const std::string& line : c.fromGui) {
            relay.fromGui(line);
        }
        ASSERT_TRUE(relay.quit());
        // The relay has returned, so everything it forwarded is in the pipe.
        EXPECT_EQ(relay.engineSees.available(), c.toEngine + Lines{"quit"});
    }
}

TEST(OutputRelay, FiltersEngineOutputByWordAndTime) {
    struct Case {
        const char* name;
        Lines fromGui;  // before the engine speaks
        Lines fromEngine;
        Lines toGui;  // before the "readyok" that closes every case
    };
    const Lines info = {"info depth 1", "info depth 1 currmove e2e4 currmovenumber 1",
                        "info currmovenumber 3"};
    const Case cases[] = {
        {"nothing withheld before the first go",
         {setoption("TimeInfo", "60000"), setoption("TimeCurrmove", "60000")},
         info,
         info},
        {"go withholds all info for its windows",
         {setoption("TimeInfo", "60000"), setoption("TimeCurrmove", "60000"), "go"},
         info,
         {}},
        {"windows of 0 withhold nothing",
         {setoption("TimeInfo", "0"), setoption("TimeCurrmove", "0"), "go"},
         info,
         info},
        {"currmove lines have their own window",
         {setoption("TimeInfo", "0"), setoption("TimeCurrmove", "60000"), "go"},
         info,
         {"info depth 1", "info currmovenumber 3"}},
        {"other info lines have theirs",
         {setoption("TimeInfo", "60000"), setoption("TimeCurrmove", "0"), "go"},
         info,
         {"info depth 1 currmove e2e4 currmovenumber 1"}},
        {"options before every uciok",
         {},
         {"id name Engine", "uciok", "uciok"},
         Lines{"id name Engine"} + kAnnouncements + Lines{"uciok"} + kAnnouncements +
             Lines{"uciok"}},
        {"text that is not UCI removed",
         {},
         {"Engine 1.0 by somebody", "", "   ", "id author somebody"},
         {"id author somebody"}},
        {"text that is not UCI kept with RemoveNonUci off",
         {setoption("RemoveNonUci", "false")},
         {"Engine 1.0 by somebody", "", "   ", "id author somebody"},
         {"Engine 1.0 by somebody", "", "", "id author somebody"}},
        {"trailing white space trimmed, leading kept",
         {},
         {"id name Engine \t\r", "  option name Ponder type check default false  "},
         {"id name Engine", "  option name Ponder type check default false"}},
        {"the rest of UCI passes",
         {"go"},
         {"copyprotection ok", "registration checking", "bestmove e2e4 ponder e7e5"},
         {"copyprotection ok", "registration checking", "bestmove e2e4 ponder e7e5"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RelayHarness relay;
        relay.start();
        for (const std::string& line : c.fromGui) {
            relay.fromGui(line);
        }
        // Once "isready" reaches the engine, every command before it has taken effect.
        relay.fromGui("isready");
        ASSERT_EQ(relay.engineSees.until("isready").back(), "isready");
        for (const std::string& line : c.fromEngine) {
            relay.fromEngine(line);
        }
        relay.fromEngine("readyok");
        EXPECT_EQ(relay.guiSees.until("readyok"), c.toGui + Lines{"readyok"});
    }
}

TEST(Relays, StopPassesOnlyWhileASearchIsOutstanding) {
    RelayHarness relay;
    relay.start();
    relay.fromGui("stop");
    relay.fromGui("isready");
    EXPECT_EQ(relay.engineSees.next(), "isready");

    relay.fromGui("go infinite");
    relay.fromGui("stop");
    EXPECT_EQ(next(relay.engineSees, 2), (Lines{"go infinite", "stop"}));

    relay.fromEngine("bestmove e2e4");
    EXPECT_EQ(relay.guiSees.next(), "bestmove e2e4");
    relay.fromGui("stop");
    relay.fromGui("isready");
    EXPECT_EQ(relay.engineSees.next(), "isready");
}

// The answer to one search often arrives after the next "go" has gone out; the next search
// must still be stoppable.
TEST(Relays, CountsOverlappingSearches) {
    RelayHarness relay;
    relay.start();
    const Lines commands = {"go infinite", "stop", "position startpos moves e2e4", "go infinite"};
    for (const std::string& line : commands) {
        relay.fromGui(line);
    }
    EXPECT_EQ(next(relay.engineSees, commands.size()), commands);

    relay.fromEngine("bestmove e2e4");
    EXPECT_EQ(relay.guiSees.next(), "bestmove e2e4");
    relay.fromGui("stop");
    EXPECT_EQ(relay.engineSees.next(), "stop");

    relay.fromEngine("bestmove e7e5");
    EXPECT_EQ(relay.guiSees.next(), "bestmove e7e5");
    relay.fromGui("stop");
    relay.fromGui("isready");
    EXPECT_EQ(relay.engineSees.next(), "isready");
}

TEST(Quit, WaitsForAnEngineThatEnds) {
    RelayHarness relay;
    // Ends with status 7 as soon as it has read one line: the "quit".
    ChildProcess engine({"/bin/sh", "-c", "read line; exit 7"}, relay.engineIn.readEnd());
    relay.state.engineProcess = engine.handle();
    relay.start();
    // Long enough that waiting it out would miss the deadline below.
    relay.fromGui(setoption("TimeQuit", "60000"));
    ASSERT_TRUE(relay.quit(5s));
    const int status = engine.reap();
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_EQ(relay.guiSees.available(), Lines{});
}

TEST(Quit, KillsAnEngineThatStaysAfterTimeQuit) {
    RelayHarness relay;
    ChildProcess engine({"/bin/sleep", "30"}, kNoHandle);
    relay.state.engineProcess = engine.handle();
    relay.start();
    relay.fromGui(setoption("TimeQuit", "200"));
    const auto sent = Clock::now();
    ASSERT_TRUE(relay.quit(5s));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
    // The millisecond clock may round the start down by up to 1 ms.
    EXPECT_GE(waited.count(), 199);
    const int status = engine.reap();
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_EQ(relay.engineSees.available(), Lines{"quit"});
    // The line feed that wakes the output relay is read but not forwarded.
    EXPECT_EQ(relay.guiSees.available(), Lines{});
}

TEST(RelayDeathTest, FailuresEndTheFilterWithOneErrorLine) {
    struct Case {
        const char* name;
        void (*cause)(RelayHarness&);
        const char* errorLine;
    };
    const Case cases[] = {
        {"GUI input ends without quit",
         [](RelayHarness& relay) {
             relay.fromGui("isready");
             relay.gui.closeWrite();
         },
         "^info string Kestrowan: FEHLER [0-9-]+; Lesefehler\n$"},
        {"engine input closed",
         [](RelayHarness& relay) {
             relay.engineIn.closeRead();
             relay.fromGui("isready");
         },
         "^info string Kestrowan: FEHLER [0-9-]+; Schreibfehler\n$"},
        {"GUI output closed",
         [](RelayHarness& relay) {
             relay.guiOut.closeRead();
             relay.fromEngine("readyok");
         },
         "^info string Kestrowan: FEHLER [0-9-]+; Schreibfehler\n$"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(
            {
                RelayHarness relay;
                relay.start();
                c.cause(relay);
                relay.waitForCommandRelay();
            },
            testing::ExitedWithCode(0), c.errorLine);
    }
}

}  // namespace
}  // namespace kestrowan
