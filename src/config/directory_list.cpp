#include "config/account.h"
#include "config/config.h"
#include "platform/dialog.h"
#include "platform/profile.h"

#include <cstring>

void directoryListUpdate() {
    char ver[1000];
    GetPrivateProfileStringA("server", "ver", "NONE", ver, sizeof ver, CONFIG_FILE);
    if (std::strcmp(ver, "NONE") != 0) {
        return;
    }
    MessageBoxA(nullptr, "Server Updated", "CONF SERVER 3.68 MESSAGE", MB_OK);
    writeDefaultDirectoryServers();
    WritePrivateProfileStringA("server", "ver", "618", CONFIG_FILE);
}
