// The one place of the program that uses a library which reports errors by exceptions:
// they are caught here and turned into a one-line message and exit code 2.
#include "app/command_line.h"

#include "monitor/monitor_view.h"

#include <CLI/CLI.hpp>
#include <arpa/inet.h>
#include <cstdio>

namespace {

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

} // namespace

int parseCommandLine(int argc, char** argv, CommandLine* out, std::string* error,
                     std::string* helpText) {
    CLI::App app{"Conference server: relays audio among the stations that join it over UDP "
                 "(ports 5198 and 5199).",
                 "confserver"};
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.allow_extras();
    app.footer("Other words form the command line; -m or -M counts only as a word of its own. "
               "Output that is not a terminal also means minimised.");
    std::string bind;
    app.add_option("--config", out->configFile,
                   "Configuration file (default: $XDG_CONFIG_HOME/omvarc.ini)")
        ->type_name("FILE");
    CLI::Option* bindOption =
        app.add_option("--bind", bind, "IPv4 address of the server's sockets (default: any)")
            ->type_name("ADDRESS");
    app.add_option("--time-scale", out->timeScale,
                   "Run every timer N times faster, N from 1 to 1000 (default 1)")
        ->type_name("N")
        ->check(CLI::Range(1, 1000).description(""));
    app.add_option("--access", out->accessFile,
                   "Access file of allow and deny rules (default: [access] file)")
        ->type_name("FILE");
    app.add_flag("--check-config", out->checkConfig,
                 "Print the keys as the server reads them and their problems, then exit");
    CLI::Option* http =
        app.add_option("--http", out->http,
                       "Serve the HTTP view on ADDRESS:PORT (default: [monitor] http)")
            ->type_name("ADDRESS:PORT");
    app.add_option("--control", out->control,
                   "Control socket (default: $RUNTIME_DIRECTORY/control)")
        ->type_name("PATH");
    app.add_flag("--version", out->version, "Print the version and exit");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out->help = true;
        *helpText = helpWithMinimiseSwitch(app.help());
        return 0;
    } catch (const CLI::ParseError& e) {
        *error = e.what();
        return 2;
    }
    std::string words;
    for (const std::string& word : app.remaining()) {
        if (word.size() > 2 && word[0] == '-' && word[1] == '-') {
            *error = "unknown option " + word;
            return 2;
        }
        if (!words.empty()) {
            words += ' ';
        }
        words += word;
    }
    out->words = words;
    out->httpGiven = http->count() > 0;
    uint32_t httpHost = 0;
    uint16_t httpPort = 0;
    if (!out->http.empty() && !monitorParseHttpAddress(out->http.c_str(), &httpHost, &httpPort)) {
        *error = "--http: not an IPv4 address and port: " + out->http;
        return 2;
    }
    if (bindOption->count() > 0) {
        in_addr address{};
        if (inet_pton(AF_INET, bind.c_str(), &address) != 1) {
            *error = bind.empty() ? std::string("--bind: the address is empty")
                                  : "--bind: not an IPv4 address: " + bind;
            return 2;
        }
        out->bindAddress = address.s_addr;
    }
    return 0;
}
