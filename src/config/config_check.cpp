#include "config/config.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "platform/stream/escape.h"
#include "platform/window/dialog.h"

#include <cstdio>

bool checkConfigurationFile() {
    char path[512];
    platformProfilePath(CONFIG_FILE, path, sizeof path);
    char shownPath[escapedSize(sizeof path)];
    escapeText(path, shownPath, sizeof shownPath);
    unsigned mode = 0;
    char why[256];
    int state = platformProfileFileState(CONFIG_FILE, &mode, why, sizeof why);
    if (state == PROFILE_FILE_UNREADABLE) {
        char text[sizeof shownPath + sizeof why + 64];
        std::snprintf(text, sizeof text,
                      "The configuration file %s cannot be read: %s. Nothing was changed.",
                      shownPath, why);
        MessageBoxA(nullptr, text, "ERROR", MB_OK);
        return false;
    }
    if (state == PROFILE_FILE_READABLE && (mode & 077u) != 0) {
        char password[2];
        if (GetPrivateProfileStringA("callsign", "valid", "", password, sizeof password,
                                     CONFIG_FILE) > 0) {
            platformOperatorLinef("warning: %s holds a password and other users may open it "
                                  "(mode %04o); chmod 600 %s",
                                  shownPath, mode, shownPath);
        }
    }
    return true;
}
