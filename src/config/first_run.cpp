#include "base/app_state.h"
#include "config/account.h"
#include "config/config.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "platform/stream/escape.h"
#include "platform/window/dialog.h"
#include "resources/resources.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void firstRunCheck() {
    char desc[40];
    GetPrivateProfileStringA("callsign", "desc", "none", desc, sizeof desc, CONFIG_FILE);
    if (std::strcmp(desc, "none") != 0) {
        return;
    }
    INT_PTR shown = DialogBoxParamA(appInstance, MAKEINTRESOURCEA(DIALOG_ACCOUNT), nullptr,
                                    accountDialogProc, 0);
    if (shown != -1) {
        return;
    }
    // No dialog can be shown: the operator has to fill the account keys in by hand.
    char path[512];
    platformProfilePath(CONFIG_FILE, path, sizeof path);
    char shownPath[escapedSize(sizeof path)];
    escapeText(path, shownPath, sizeof shownPath);
    const char* keys = "[callsign] user (the node name, with its stars), desc (a description "
                       "other than \"none\") and valid (the password)";
    char text[sizeof shownPath + 512];
    if (platformProfileFileState(CONFIG_FILE, nullptr, nullptr, 0) == PROFILE_FILE_MISSING) {
        std::snprintf(text, sizeof text,
                      "The configuration file %s does not exist. Create it with %s, or start "
                      "the server in a terminal without -m to enter them.",
                      shownPath, keys);
    } else {
        std::snprintf(text, sizeof text,
                      "The account of this server is not set up. Set %s in %s, or start the "
                      "server in a terminal without -m to enter them.",
                      keys, shownPath);
    }
    MessageBoxA(nullptr, text, "ERROR", MB_OK);
    std::exit(2);
}
