#include "config/config.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "platform/stream/escape.h"

#include <cstdio>

bool configWriteFailureTold = false;

void configWriteError(char* buf, size_t size) {
    platformProfileWriteError(buf, size);
}

bool writeConfigValue(const char* section, const char* key, const char* value) {
    if (WritePrivateProfileStringA(section, key, value, CONFIG_FILE)) {
        return true;
    }
    if (!configWriteFailureTold) {
        configWriteFailureTold = true;
        char error[600];
        configWriteError(error, sizeof error);
        char shown[escapedSize(sizeof error)];
        escapeText(error, shown, sizeof shown);
        platformOperatorLinef("cannot write %s", shown);
    }
    return false;
}
