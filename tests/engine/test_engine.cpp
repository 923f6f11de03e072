// A scripted UCI engine for the end-to-end cases. With KESTROWAN_TEST_DIR set, it logs to
// <dir>/engine.log how it was started ("#" lines; arguments and folder in UTF-8, on Windows from
// the UTF-16 command line) and every line it receives, raw, and takes its script from
// <dir>/engine.script: entries "<word> <delay-ms> <length>", a line feed and <length> bytes, run
// in order when a command with that first word arrives ("start": at start-up, "eof": at the end
// of input), each <delay-ms> after it came. The bytes are written in one write; "!exit" ends the
// engine instead, "!stay" does nothing, "!spawn" starts a copy that only waits ("--hang"; a
// minute), "!escape" one that waits 3 s in a session of its own (POSIX; as "!spawn" on Windows).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#define main wmain  // with -municode: the arguments as the UTF-16 command line has them
using Char = wchar_t;
const std::string proc = "";  // under Wine, /proc would show the Wine process
// Bytes as they are, as on POSIX: no CR LF translation, no end of input at Ctrl-Z.
const bool binaryStreams = _setmode(0, _O_BINARY) != -1 && _setmode(1, _O_BINARY) != -1;
void spawnHanging(bool) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    _wspawnl(_P_NOWAIT, self, L"child", L"--hang", nullptr);
}
#else
#include <spawn.h>
#include <unistd.h>
using Char = char;
const std::string proc = "/proc/self";
void spawnHanging(bool away) {
    char name[] = "child", hang[] = "--hang", shortly[] = "--escape";
    char* args[] = {name, away ? shortly : hang, nullptr};
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, away ? POSIX_SPAWN_SETSID : 0);
    pid_t pid = 0;
    posix_spawn(&pid, "/proc/self/exe", nullptr, &attributes, args, environ);
}
#endif

namespace {

std::string dir;
std::multimap<std::string, std::pair<int, std::string>> script;

void log(const std::string& text) {
    if (!dir.empty()) {
        std::ofstream(dir + "/engine.log", std::ios::app | std::ios::binary) << text << '\n';
    }
}

void say(const std::string& text) {
    if (text == "!exit") {
        log("#exit");
        std::_Exit(0);
    } else if (text == "!spawn" || text == "!escape") {
        spawnHanging(text == "!escape");
    } else if (text != "!stay") {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
}

void react(const std::string& word) {
    const auto start = std::chrono::steady_clock::now();
    const auto [first, last] = script.equal_range(word);
    for (auto it = first; it != last; ++it) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(it->second.first));
        say(it->second.second);
    }
}

std::string utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

void logStart(const std::vector<std::filesystem::path>& args) {
    log("#argv0 " + utf8(args[0]) + "\n#cwd " + utf8(std::filesystem::current_path()));
    for (std::size_t i = 1; i < args.size(); ++i) {
        log("#arg " + utf8(args[i]));
    }
    std::error_code error;
    std::string fds = "#fds";  // the listing's own descriptor is the last one it shows
    for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd", error)) {
        fds += " " + fd.path().filename().string();
    }
    log(fds);
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("SigIgn") || line.starts_with("SigBlk")) {
            log("#" + line);
        }
    }
}

}  // namespace

int main(int argc, Char** argv) {
    if (argc == 2 && (std::filesystem::path(argv[1]) == "--hang" ||
                      std::filesystem::path(argv[1]) == "--escape")) {
        const bool away = std::filesystem::path(argv[1]) == "--escape";
        std::this_thread::sleep_for(std::chrono::seconds(away ? 3 : 60));
        return 0;
    }
    dir = std::getenv("KESTROWAN_TEST_DIR") != nullptr ? std::getenv("KESTROWAN_TEST_DIR") : "";
    std::stringstream entries;
    entries << std::ifstream(dir + "/engine.script", std::ios::binary).rdbuf();
    std::string word;
    for (int delay = 0, length = 0; entries >> word >> delay >> length && entries.get();) {
        std::string text(static_cast<std::size_t>(length), '\0');
        entries.read(text.data(), length);
        script.emplace(word, std::make_pair(delay, text));
    }
    logStart({argv, argv + argc});
    std::ios::sync_with_stdio(false);
    react("start");
    for (std::string line; std::getline(std::cin, line);) {
        log(line);
        react(line.substr(0, line.find(' ')));
    }
    react("eof");
    // Staying after the end of input, for a minute at most: a broken filter must not leave an
    // engine behind for long.
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;  // wmain has no implicit one
}
