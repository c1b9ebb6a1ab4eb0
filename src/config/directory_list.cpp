#include "config/account.h"
#include "config/config.h"
#include "platform/profile/profile.h"
#include "platform/window/dialog.h"

#include <cstdio>
#include <cstring>

void directoryListUpdate() {
    char ver[1000];
    GetPrivateProfileStringA("server", "ver", "NONE", ver, sizeof ver, CONFIG_FILE);
    if (std::strcmp(ver, "NONE") != 0) {
        return;
    }
    // The box comes after the writes, so that it can say whether they were stored.
    bool stored = writeDefaultDirectoryServers();
    stored = writeConfigValue("server", "ver", "618") && stored;
    if (stored) {
        MessageBoxA(nullptr, "Server Updated", "CONF SERVER 3.68 MESSAGE", MB_OK);
        return;
    }
    char error[600];
    configWriteError(error, sizeof error);
    char text[700];
    std::snprintf(text, sizeof text, "Server not updated: cannot write %s", error);
    MessageBoxA(nullptr, text, "CONF SERVER 3.68 MESSAGE", MB_OK);
}
