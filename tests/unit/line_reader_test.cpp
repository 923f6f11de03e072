// The line reader over a real pipe, each chunk arriving in a read of its own.
#include "io/line_reader.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/pipe.h"
#include "platform/system.h"

namespace kestrowan {
namespace {

using namespace std::string_literals;

// Any error exit ends the process with status 0, which would pass for success.
[[maybe_unused]] const int refuseExit = std::atexit([] {
    if (!testing::internal::InDeathTestChild() &&
        testing::UnitTest::GetInstance()->current_test_info() != nullptr) {
        std::fputs("the process was ended during a test\n", stderr);
        std::_Exit(1);
    }
});

TEST(LineReader, HandsOutTrimmedLinesWhateverTheReadsBring) {
    struct Case {
        std::vector<std::string> chunks;
        std::vector<std::string> lines;
        std::uint32_t capacity = kReaderCapacity;
    };
    const std::string a9999(9999, 'a');
    const std::string b20000(20000, 'b');
    const Case cases[] = {
        {{"go\r\n"}, {"go"}},
        {{"  \tisready \t\v\f\r\n"}, {"  \tisready"}},
        {{" \t\r \n", "\n"}, {"", ""}},
        {{"a\0b\n\0\n"s}, {"a\0b"s, "\0"s}},
        {{"a\rb\xA0\x85\n"}, {"a\rb\xA0\x85"}},
        {{"one\n two \nthr", "ee\nfo", "u", "r\n"}, {"one", " two", "three", "four"}},
        {{a9999 + "\n"}, {a9999}},
        {{a9999 + "a", "\nx\n"}, {a9999 + "a", "x"}, 20000},
        {{b20000.substr(0, 7000), b20000.substr(7000) + "\n"}, {b20000}, 40000},
    };
    for (const Case& c : cases) {
        Handle readEnd = kNoHandle;
        Handle writeEnd = kNoHandle;
        ASSERT_TRUE(createPipe(readEnd, writeEnd));
        std::thread writer([&] {
            for (const std::string& chunk : c.chunks) {
                writeHandle(writeEnd, chunk.data(), static_cast<std::uint32_t>(chunk.size()));
                for (int left = 1; left > 0;) {
                    ioctl(static_cast<int>(readEnd), FIONREAD, &left);
                    std::this_thread::yield();
                }
            }
        });
        LineReader reader;
        ASSERT_TRUE(createLineReader(reader, readEnd));
        for (const std::string& expected : c.lines) {
            const Line line = readLine(reader, kNoHandle);
            EXPECT_EQ(line.view(), expected) << c.chunks[0].substr(0, 20);
            EXPECT_EQ(line.text[line.length], '\0');
        }
        EXPECT_EQ(reader.capacity, c.capacity) << c.chunks[0].substr(0, 20);
        writer.join();
        releaseLineReader(reader);
        closeHandle(readEnd);
        closeHandle(writeEnd);
    }
}

}  // namespace
}  // namespace kestrowan
