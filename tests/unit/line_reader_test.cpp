#include "io/line_reader.h"

#include <gtest/gtest.h>

#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "pipe_support.h"

namespace kestrowan {
namespace {

using namespace std::string_literals;
using test::TestPipe;
using test::writeAll;

constexpr const char* kReadErrorLine = "^info string Kestrowan: FEHLER [0-9-]+; Lesefehler\n$";

class LineReaderTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(createLineReader(reader_, pipe_.readEnd())); }
    void TearDown() override { releaseLineReader(reader_); }

    std::string next() {
        const Line line = readLine(reader_, kNoHandle);
        return std::string(line.text, line.length);
    }

    TestPipe pipe_;
    LineReader reader_;
};

TEST_F(LineReaderTest, CutsAndTrimsLines) {
    struct Case {
        const char* name;
        std::string input;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"CR alone is data", "a\rb\n", {"a\rb"}},
        {"CRLF", "uciok\r\n", {"uciok"}},
        {"trailing blanks and tabs", "go depth 5 \t \t\n", {"go depth 5"}},
        {"leading white space stays", "  \tisready\n", {"  \tisready"}},
        {"only white space", " \t\r \n", {""}},
        {"empty line", "\n", {""}},
        {"NUL inside a line", "a\0b\n"s, {"a\0b"s}},
        {"NUL right before the line feed", "\0\nx\n"s, {"\0"s, "x"}},
        {"high bytes are not white space", "x\xA0\n", {"x\xA0"}},
        {"several lines, one read", "one\r\n two \n\nthree\n", {"one", " two", "", "three"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeAll(pipe_.writeEnd(), c.input);
        for (const std::string& expected : c.lines) {
            EXPECT_EQ(next(), expected);
        }
    }
}

TEST_F(LineReaderTest, HandsOutAHeldLineWithoutReading) {
    writeAll(pipe_.writeEnd(), "first\nsecond\n");
    EXPECT_EQ(next(), "first");
    EXPECT_EQ(reader_.length, 13u);
    EXPECT_EQ(reader_.start, 6u);
    // Available to a read from now on; a read in the next call would show in `length`.
    writeAll(pipe_.writeEnd(), "third\n");
    EXPECT_EQ(next(), "second");
    EXPECT_EQ(reader_.length, 13u);
    EXPECT_EQ(reader_.start, 13u);
    EXPECT_EQ(next(), "third");
}

TEST_F(LineReaderTest, JoinsALineSplitAcrossTwoWrites) {
    writeAll(pipe_.writeEnd(), "go wtime ");
    auto line = std::async(std::launch::async, [this] { return next(); });
    // Once the pipe is empty the reader holds the first part and waits for the rest.
    ASSERT_TRUE(test::waitUntilDrained(pipe_.readEnd()));
    writeAll(pipe_.writeEnd(), "1000 btime 1000\n");
    EXPECT_EQ(line.get(), "go wtime 1000 btime 1000");
}

TEST_F(LineReaderTest, StartsFromAnEmptyBufferAfterTheLastCompleteLine) {
    writeAll(pipe_.writeEnd(), "one\n");
    EXPECT_EQ(next(), "one");
    writeAll(pipe_.writeEnd(), "two\n");
    const Line two = readLine(reader_, kNoHandle);
    EXPECT_EQ(two.view(), "two");
    EXPECT_EQ(two.text, reader_.buffer);
    EXPECT_EQ(reader_.length, 4u);

    // The unfinished rest of a read moves to the front before the next read.
    writeAll(pipe_.writeEnd(), "three\nfo");
    EXPECT_EQ(next(), "three");
    writeAll(pipe_.writeEnd(), "ur\n");
    const Line four = readLine(reader_, kNoHandle);
    EXPECT_EQ(four.view(), "four");
    EXPECT_EQ(four.text, reader_.buffer);
    EXPECT_EQ(reader_.length, 5u);
    EXPECT_EQ(reader_.start, 5u);
}

TEST(LineReaderGrowth, DoublesUntilTheWholeLineFits) {
    struct Case {
        std::uint32_t length;  // without the line feed
        std::uint32_t capacity;
    };
    const Case cases[] = {
        {9999, 10000}, {10000, 20000}, {19999, 20000}, {20000, 40000}, {25000, 40000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        TestPipe pipe;
        LineReader reader;
        ASSERT_TRUE(createLineReader(reader, pipe.readEnd()));
        EXPECT_EQ(reader.capacity, kReaderCapacity);
        std::string text(c.length, ' ');
        for (std::uint32_t i = 0; i < c.length; ++i) {
            text[i] = static_cast<char>('a' + i % 26);
        }
        // Fits the pipe whole, so the reader meets it in full-buffer reads.
        writeAll(pipe.writeEnd(), text + "\nnext\n");
        const Line line = readLine(reader, kNoHandle);
        EXPECT_TRUE(line.view() == text) << "got " << line.length << " bytes";
        EXPECT_EQ(reader.capacity, c.capacity);
        EXPECT_EQ(readLine(reader, kNoHandle).view(), "next");
        releaseLineReader(reader);
    }
}

TEST(LineReaderDeathTest, EndOfInputEndsTheProcess) {
    const char* const inputs[] = {"", "an unfinished line", "a line\n"};
    for (const char* input : inputs) {
        SCOPED_TRACE(input);
        EXPECT_EXIT(
            {
                TestPipe pipe;
                writeAll(pipe.writeEnd(), input);
                pipe.closeWrite();
                LineReader reader;
                createLineReader(reader, pipe.readEnd());
                for (;;) {
                    readLine(reader, kNoHandle);
                }
            },
            testing::ExitedWithCode(0), kReadErrorLine);
    }
}

bool isTrailingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Whatever the chunking of the stream, the reader returns exactly the lines, trimmed.
TEST(LineReaderProperty, RandomChunksGiveBackTheTrimmedLines) {
    for (const unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        std::string stream;
        std::vector<std::string> expected;
        for (int i = 0; i < 120; ++i) {
            const std::uint32_t length = random() % 8 == 0 ? random() % 30000 : random() % 80;
            std::string line;
            for (std::uint32_t j = 0; j < length; ++j) {
                unsigned byte = random() % 255;
                line += static_cast<char>(byte >= '\n' ? byte + 1 : byte);  // never a line feed
            }
            for (unsigned j = random() % 4; j > 0; --j) {
                line += " \t\r"[random() % 3];
            }
            stream += line + '\n';
            while (!line.empty() && isTrailingSpace(line.back())) {
                line.pop_back();
            }
            expected.push_back(line);
        }

        TestPipe pipe;
        std::thread writer([&pipe, &stream, seed] {
            std::mt19937 random(seed + 100);
            for (std::size_t at = 0; at < stream.size();) {
                const std::size_t size =
                    random() % 2 == 0 ? 1 + random() % 16 : 1 + random() % 20000;
                const std::string_view chunk = std::string_view(stream).substr(at, size);
                writeAll(pipe.writeEnd(), chunk);
                at += chunk.size();
                // Each chunk reaches the reader in reads of its own.
                if (!test::waitUntilDrained(pipe.readEnd())) {
                    ADD_FAILURE() << "the reader stopped taking data";
                    return;
                }
            }
        });
        LineReader reader;
        ASSERT_TRUE(createLineReader(reader, pipe.readEnd()));
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const Line line = readLine(reader, kNoHandle);
            if (line.view() != expected[i]) {
                ADD_FAILURE() << "line " << i << ": " << line.length << " bytes instead of "
                              << expected[i].size();
                break;
            }
        }
        writer.join();
        releaseLineReader(reader);
    }
}

}  // namespace
}  // namespace kestrowan
