// The Linux entry point: command line, runtime set-up, then the program proper.
#include "access/access.h"
#include "app/command_line.h"
#include "app/minimise_switch.h"
#include "app/startup.h"
#include "base/app_state.h"
#include "check/check_config.h"
#include "config/config.h"
#include "ctl/ctl.h"
#include "frontend/minimised/minimised.h"
#include "frontend/terminal/terminal_window.h"
#include "monitor/monitor.h"
#include "platform/runtime.h"
#include "resources/resources.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    // `confserver ctl ...` is the control client: no server, no option of the server's.
    if (argc >= 2 && std::string(argv[1]) == "ctl") {
        return ctlClientMain(argc - 2, argv + 2);
    }
    // Signals are caught from the first instant. Until the main window exists there is
    // nothing to close, so a signal ends the process at once, wherever start-up is held up;
    // the companion program is not waited for, so its end must not leave a zombie behind.
    platformSetSignalAction(SIGNALS_END_PROCESS_AT_ONCE);
    platformInstallSignalHandlers();
    // Minimised until the terminal window is chosen below: status lines on standard output,
    // message boxes on standard error.
    platform::setFrontEnd(minimisedFrontEnd());
    struct sigaction noZombies {};
    noZombies.sa_handler = SIG_DFL;
    noZombies.sa_flags = SA_NOCLDWAIT;
    sigaction(SIGCHLD, &noZombies, nullptr);

    CommandLine commandLine;
    std::string error;
    std::string helpText;
    int rc = parseCommandLine(argc, argv, &commandLine, &error, &helpText);
    if (rc != 0) {
        platformOperatorLinef("%s", error.c_str());
        return rc;
    }
    if (commandLine.help) {
        std::fputs(helpText.c_str(), stdout);
        return 0;
    }
    if (commandLine.version) {
        std::printf("confserver %s\n", CONFSERVER_VERSION);
        return 0;
    }
    if (!commandLine.configFile.empty()) {
        platformSetProfileFile(CONFIG_FILE, commandLine.configFile.c_str());
    }
    accessSetFileOverride(commandLine.accessFile.c_str());
    accessSetDenialListener(monitorDenied); // every denial is counted and logged
    if (commandLine.checkConfig) {
        CheckConfigOptions options;
        options.accessFromCommandLine = !commandLine.accessFile.empty();
        options.http = commandLine.httpGiven ? commandLine.http.c_str() : nullptr;
        options.bindAddress = commandLine.bindAddress;
        options.strict = commandLine.strict;
        return checkConfiguration(stdout, options);
    }
    platformSetTimeScale(commandLine.timeScale);
    bindAddress = commandLine.bindAddress;
    monitorSetHttpAddress(commandLine.httpGiven ? commandLine.http.c_str() : nullptr);
    ctlSetServerSocket(commandLine.controlPath.c_str());
    // A terminal without the minimise switch shows the window; anything else runs minimised.
    if (isatty(STDOUT_FILENO) != 0 && !minimiseSwitchGiven(commandLine.words.c_str())) {
        char whyNot[160];
        if (!platformUseTerminalFrontEnd(whyNot, sizeof whyNot)) {
            platformOperatorLinef("%s; running minimised", whyNot);
        } else {
            // The terminal must be given back on the way out: a signal ends start-up through
            // exit() from the pump (the account dialog and message boxes run it).
            platformSetSignalAction(SIGNALS_END_PROCESS);
            monitorQuietStandardError();
        }
    }
    return winMain(programInstance(), commandLine.words.c_str(), SW_SHOWNORMAL);
}
