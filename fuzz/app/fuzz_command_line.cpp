// The command line: the minimise-switch rule on the input as one line, and the option
// parser on the input split into words. The rule is checked against a direct reading of
// it; the parser must answer every word list with success or a one-line error (exit code
// 2), never an escaping exception, and what it accepts must be in range.
#include "app/command_line.h"
#include "app/minimise_switch.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

bool isWhite(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The rule read straight from its statement: the first "-m", or only without any "-m"
// the first "-M"; accepted when it stands as a word of its own.
bool switchByRule(const std::string& line) {
    size_t at = line.find("-m");
    if (at == std::string::npos) {
        at = line.find("-M");
    }
    if (at == std::string::npos) {
        return false;
    }
    const bool before = at == 0 || isWhite(line[at - 1]);
    const bool after = at + 2 == line.size() || isWhite(line[at + 2]);
    return before && after;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) {
        return 0;
    }
    // The command line ends at its first zero byte, as a C string does.
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::string line = raw.substr(0, raw.find('\0'));
    require(minimiseSwitchGiven(line.c_str()) == switchByRule(line));

    std::vector<std::string> words = {"confserver"};
    std::string word;
    for (char c : raw) {
        if (isWhite(c) || c == '\0') {
            if (!word.empty()) {
                words.push_back(word);
            }
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    CommandLine out;
    std::string error;
    std::string help;
    const int code =
        parseCommandLine(static_cast<int>(words.size()), argv.data(), &out, &error, &help);
    require(code == 0 || code == 2);
    if (code == 2) {
        require(!error.empty());
        return 0;
    }
    require(error.empty());
    if (out.help) {
        require(!help.empty());
        return 0;
    }
    require(out.timeScale >= 1 && out.timeScale <= 1000);
    // The words left over are input words, none of them a long option ("--" alone, the end
    // of the options, may stay).
    size_t pos = 0;
    while (pos < out.words.size()) {
        size_t end = out.words.find(' ', pos);
        const std::string w =
            out.words.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        require(!w.empty() && (w.size() <= 2 || w.rfind("--", 0) != 0));
        pos = end == std::string::npos ? out.words.size() : end + 1;
    }
    return 0;
}
