#include "config/account.h"
#include "config/config.h"
#include "platform/profile.h"

const char* const defaultDirectoryServers[4] = {CONFSERVER_DIRECTORY_1, CONFSERVER_DIRECTORY_2,
                                                CONFSERVER_DIRECTORY_3, CONFSERVER_DIRECTORY_4};

void writeDefaultDirectoryServers() {
    WritePrivateProfileStringA("server", "1", defaultDirectoryServers[0], CONFIG_FILE);
    WritePrivateProfileStringA("server", "2", defaultDirectoryServers[1], CONFIG_FILE);
    WritePrivateProfileStringA("server", "3", defaultDirectoryServers[2], CONFIG_FILE);
    WritePrivateProfileStringA("server", "4", defaultDirectoryServers[3], CONFIG_FILE);
    WritePrivateProfileStringA("server", "maxusers", "8", CONFIG_FILE);
}
