#include "config/account.h"
#include "config/config.h"

const char* const defaultDirectoryServers[4] = {CONFSERVER_DIRECTORY_1, CONFSERVER_DIRECTORY_2,
                                                CONFSERVER_DIRECTORY_3, CONFSERVER_DIRECTORY_4};

bool writeDefaultDirectoryServers() {
    bool ok = writeConfigValue("server", "1", defaultDirectoryServers[0]);
    ok = writeConfigValue("server", "2", defaultDirectoryServers[1]) && ok;
    ok = writeConfigValue("server", "3", defaultDirectoryServers[2]) && ok;
    ok = writeConfigValue("server", "4", defaultDirectoryServers[3]) && ok;
    return writeConfigValue("server", "maxusers", "8") && ok;
}
