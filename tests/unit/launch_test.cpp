#include "engine/launch.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kestrowan {
namespace {

TEST(BuildCommandLine, JoinsTheArgumentsUpTo9998Characters) {
    struct Case {
        const char* name;
        std::vector<std::string> arguments;  // argv[1] onward
        std::optional<std::string> joined;   // nothing: too long
    };
    const std::string half(4999, 'b');
    const Case cases[] = {
        {"program only", {"/usr/games/engine"}, "/usr/games/engine"},
        {"single spaces", {"engine", "-t", "4", ""}, "engine -t 4 "},
        {"one argument of 9998", {std::string(9998, 'a')}, std::string(9998, 'a')},
        {"one argument of 9999", {std::string(9999, 'a')}, std::nullopt},
        {"9998 with the space",
         {half, std::string(4998, 'c')},
         half + ' ' + std::string(4998, 'c')},
        {"9999 with the space", {half, half}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char*> argv{const_cast<char*>("kestrowan")};
        for (const std::string& argument : c.arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        std::string commandLine = "left over";
        const bool fits = buildCommandLine(static_cast<int>(argv.size()), argv.data(), commandLine);
        ASSERT_EQ(fits, c.joined.has_value());
        if (fits) {
            EXPECT_EQ(commandLine, *c.joined);
        }
    }
}

}  // namespace
}  // namespace kestrowan
