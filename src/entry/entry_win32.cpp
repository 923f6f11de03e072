#include <string>
#include <vector>

#include "core/main.h"
#include "platform/wide_win32.h"

// The runtime's ANSI arguments turn every character outside the system's code page into '?',
// so a path in another script would name nothing. The wide start-up (-municode) hands over the
// command line as it is, wildcards expanded as in the ANSI one.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.push_back(kestrowan::narrowFromWide(argv[i]));
    }
    std::vector<char*> pointers;
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    return kestrowan::runFilter(argc, pointers.data());
}
