// A UCI engine for benchmarks: answers at once, and on "go" floods its output with info lines.
//
//   kestrowan_flood_engine [lines]
//
// On "go" it writes `lines` (default 1000000) realistic info lines, in large chunks, then a
// bestmove. Everything it writes is flushed before it reads the next command.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

void flood(long lines) {
    constexpr std::size_t kChunk = 1 << 16;
    std::string chunk;
    chunk.reserve(kChunk + 256);
    char line[256];
    for (long i = 0; i < lines; ++i) {
        const long depth = 1 + i % 40;
        const long nodes = 1000 + i * 37;
        const int length = std::snprintf(
            line, sizeof line,
            "info depth %ld seldepth %ld multipv 1 score cp %ld nodes %ld nps %ld time %ld "
            "pv e2e4 e7e5 g1f3 b8c6 f1b5\n",
            depth, depth + 4, 10 + i % 50, nodes, 1500000 + i % 1000, 1 + i / 1000);
        chunk.append(line, static_cast<std::size_t>(length));
        if (chunk.size() >= kChunk) {
            std::fwrite(chunk.data(), 1, chunk.size(), stdout);
            chunk.clear();
        }
    }
    chunk += "bestmove e2e4 ponder e7e5\n";
    std::fwrite(chunk.data(), 1, chunk.size(), stdout);
    std::fflush(stdout);
}

void say(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    std::string command;
    while (std::getline(std::cin, command)) {
        if (command == "uci") {
            say("id name flood\nid author kestrowan bench\nuciok\n");
        } else if (command == "isready") {
            say("readyok\n");
        } else if (command.rfind("go", 0) == 0) {
            flood(lines);
        } else if (command == "quit") {
            break;
        }
    }
    return 0;
}
