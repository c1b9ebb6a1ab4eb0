// The one place of the program that uses a library which reports errors by exceptions:
// they are caught here and turned into a one-line message and exit code 2.
//
// Every word is classified here before the library sees it: the minimise switches (-m, -M)
// are words of the described command line whose place matters, so they never reach the
// library; every other word must be a known option or an option's value. The library then
// parses the options, each handed over as "--name=value" so that no value can be taken for
// an option.
#include "app/command_line.h"

#include "config/nearest_name.h"
#include "monitor/monitor_view.h"

#include <CLI/CLI.hpp>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct OptionSpec {
    const char* name;
    bool takesValue;
};

// Every option of the program; the minimise switches are not options.
constexpr OptionSpec OPTIONS[] = {
    {"--config", true},        {"--bind", true},       {"--access", true},
    {"--http", true},          {"--time-scale", true}, {"--control", true},
    {"--check-config", false}, {"--strict", false},    {"--version", false},
    {"--help", false},         {"-h", false},
};
constexpr size_t OPTION_COUNT = sizeof OPTIONS / sizeof OPTIONS[0];

std::string controlPath; // --control, for controlSocketPath()
bool controlPathGiven = false;

const OptionSpec* findOption(const std::string& name) {
    for (const OptionSpec& option : OPTIONS) {
        if (name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

// The option that an unknown word resembles: one whose name (dashes aside) begins with the
// word's letters, else the nearest by spelling; null when none is near.
const char* resembledOption(const std::string& word) {
    std::string letters = word.substr(0, word.find('='));
    letters.erase(0, letters.find_first_not_of('-'));
    if (letters.empty()) {
        return nullptr;
    }
    for (const OptionSpec& option : OPTIONS) {
        const char* name = option.name + std::strspn(option.name, "-");
        if (std::strlen(option.name) > 2 &&
            std::strncmp(name, letters.c_str(), letters.size()) == 0) {
            return option.name;
        }
    }
    const char* bare[OPTION_COUNT];
    for (size_t i = 0; i < OPTION_COUNT; ++i) {
        bare[i] = OPTIONS[i].name + std::strspn(OPTIONS[i].name, "-");
    }
    const char* nearest =
        letters.size() > 1 ? nearestName(letters.c_str(), bare, OPTION_COUNT) : nullptr;
    for (size_t i = 0; i < OPTION_COUNT; ++i) {
        if (nearest == bare[i]) {
            return OPTIONS[i].name;
        }
    }
    return nullptr;
}

// The one line for a word that is neither an option, its value nor a minimise switch.
std::string unknownWord(const std::string& word) {
    if (word.size() > 2 && word[0] == '-' && (word[1] == 'm' || word[1] == 'M') && word[2] != '-') {
        return word + ": unknown option (-m and -M stand alone)";
    }
    if (word.empty() || word[0] != '-') {
        return word + ": unexpected word (options begin with --; see --help)";
    }
    if (const char* like = resembledOption(word)) {
        return word + ": unknown option (did you mean " + like + "?)";
    }
    return word + ": unknown option (see --help)";
}

// "N" of --time-scale: decimal digits only, 1 to 1000.
bool parseTimeScale(const std::string& text, int* out) {
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    int value = static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
    if (value < 1 || value > 1000) {
        return false;
    }
    *out = value;
    return true;
}

// The library's help with the minimise switch among the options: -m and -M are words of
// the command line (their place in it matters), so the library never sees them as options.
std::string helpWithMinimiseSwitch(const std::string& help) {
    const std::string heading = "Options:\n";
    const size_t at = help.find(heading);
    char line[200];
    std::snprintf(line, sizeof line, "  %-28s%s\n", "-m,-M",
                  "Run minimised: no terminal window, status lines on standard output");
    if (at == std::string::npos) {
        return help + line;
    }
    std::string out = help;
    out.insert(at + heading.size(), line);
    return out;
}

// Sorts argv into the minimise switches and the options (as "--name=value"; the names of
// options given an empty value go to *empty instead, the library taking an empty value for
// none); false with the one line in *error for anything else or an option given twice.
bool classifyWords(int argc, char** argv, std::string* words, std::vector<std::string>* options,
                   std::vector<std::string>* empty, std::string* error) {
    std::vector<std::string> seen;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "-m" || word == "-M") {
            *words += (words->empty() ? "" : " ") + word;
            continue;
        }
        size_t equals = word.rfind("--", 0) == 0 ? word.find('=') : std::string::npos;
        std::string name = word.substr(0, equals);
        const OptionSpec* option = findOption(name);
        if (option == nullptr) {
            *error = unknownWord(word);
            return false;
        }
        for (const std::string& before : seen) {
            if (before == name) {
                *error = name + " given twice";
                return false;
            }
        }
        seen.push_back(name);
        if (!option->takesValue) {
            if (equals != std::string::npos) {
                *error = name + ": takes no value";
                return false;
            }
            options->push_back(name);
            continue;
        }
        std::string value;
        if (equals == std::string::npos) {
            if (i + 1 >= argc) {
                *error = name + ": a value is missing";
                return false;
            }
            value = argv[++i];
        } else {
            value = word.substr(equals + 1);
        }
        if (value.empty()) {
            empty->push_back(name);
        } else {
            options->push_back(name + "=" + value);
        }
    }
    return true;
}

} // namespace

int parseCommandLine(int argc, char** argv, CommandLine* out, std::string* error,
                     std::string* helpText) {
    controlPath.clear();
    controlPathGiven = false;
    if (argc > 1 && std::strcmp(argv[1], "ctl") == 0) {
        out->control = true;
        return 0;
    }
    std::string words;
    std::vector<std::string> options;
    std::vector<std::string> empty;
    if (!classifyWords(argc, argv, &words, &options, &empty, error)) {
        return 2;
    }
    CLI::App app{"Conference server: relays audio among the stations that join it over UDP "
                 "(ports 5198 and 5199).",
                 "confserver"};
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.footer("-m or -M runs the server minimised even on a terminal: no terminal window,\n"
               "each status line on standard output. It also runs minimised when standard\n"
               "output is not a terminal (a pipe, a file, a service).");
    std::string bind;
    std::string timeScale;
    app.add_option("--config", out->configFile,
                   "Configuration file (default: $XDG_CONFIG_HOME/omvarc.ini)")
        ->type_name("FILE");
    CLI::Option* bindOption =
        app.add_option("--bind", bind, "IPv4 address of the server's sockets (default: any)")
            ->type_name("ADDRESS");
    CLI::Option* timeScaleOption =
        app.add_option("--time-scale", timeScale,
                       "Run every timer N times faster, N from 1 to 1000 (default 1)")
            ->type_name("N");
    app.add_option("--access", out->accessFile,
                   "Access file of allow and deny rules (default: [access] file)")
        ->type_name("FILE");
    CLI::Option* http =
        app.add_option("--http", out->http,
                       "Serve the HTTP view on ADDRESS:PORT (default: [monitor] http)")
            ->type_name("ADDRESS:PORT");
    CLI::Option* control =
        app.add_option("--control", out->controlPath,
                       "Control socket for confserver ctl (default: in the runtime directory)")
            ->type_name("PATH");
    app.add_flag("--check-config", out->checkConfig,
                 "Print the keys as the server reads them and their problems, then exit");
    app.add_flag("--strict", out->strict, "With --check-config: warnings fail the check too");
    app.add_flag("--version", out->version, "Print the version and exit");
    std::vector<std::string> reversed(options.rbegin(), options.rend());
    try {
        app.parse(reversed); // the library takes the words last first
    } catch (const CLI::CallForHelp&) {
        out->help = true;
        *helpText = helpWithMinimiseSwitch(app.help());
        return 0;
    } catch (const CLI::ParseError& e) {
        *error = e.what();
        return 2;
    }
    out->words = words;
    out->httpGiven = http->count() > 0;
    for (const std::string& name : empty) {
        if (name == "--http") {
            out->httpGiven = true; // an empty --http turns off the one of the file
        } else if (name == "--bind") {
            *error = "--bind: the address is empty";
            return 2;
        } else if (name == "--control") {
            *error = "--control: the path is empty";
            return 2;
        } else if (name != "--access") { // an empty --access names no file: the file decides
            *error = name + ": the value is empty";
            return 2;
        }
    }
    uint32_t httpHost = 0;
    uint16_t httpPort = 0;
    if (!out->http.empty() && !monitorParseHttpAddress(out->http.c_str(), &httpHost, &httpPort)) {
        *error = "--http: " + out->http + " is not an IPv4 address and a port from 1 to 65535";
        return 2;
    }
    if (timeScaleOption->count() > 0 && !parseTimeScale(timeScale, &out->timeScale)) {
        *error = "--time-scale: " + timeScale + " is not a number from 1 to 1000";
        return 2;
    }
    if (bindOption->count() > 0) {
        in_addr address{};
        if (inet_pton(AF_INET, bind.c_str(), &address) != 1) {
            *error = bind.empty() ? std::string("--bind: the address is empty")
                                  : "--bind: " + bind + " is not an IPv4 address";
            return 2;
        }
        out->bindAddress = address.s_addr;
    }
    if (control->count() > 0 && out->controlPath.empty()) {
        *error = "--control: the path is empty";
        return 2;
    }
    if (out->strict && !out->checkConfig) {
        *error = "--strict: only with --check-config";
        return 2;
    }
    controlPath = out->controlPath;
    controlPathGiven = control->count() > 0;
    return 0;
}

const char* controlSocketPath() {
    return controlPathGiven ? controlPath.c_str() : nullptr;
}
