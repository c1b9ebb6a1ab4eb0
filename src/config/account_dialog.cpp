#include "config/account.h"
#include "config/config.h"
#include "platform/window/dialog.h"
#include "resources/resources.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Each field is read up to 38 characters.
constexpr int FIELD_SIZE = 39;

// Checks the three fields and stores them; the dialog stays open on too-short input.
void onAccountOk(HWND dialog) {
    bool stored = writeDefaultDirectoryServers();
    char serverName[FIELD_SIZE];
    char description[FIELD_SIZE];
    char password[FIELD_SIZE];
    GetDlgItemTextA(dialog, IDC_SERVER_NAME, serverName, FIELD_SIZE);
    GetDlgItemTextA(dialog, IDC_DESCRIPTION, description, FIELD_SIZE);
    GetDlgItemTextA(dialog, IDC_PASSWORD, password, FIELD_SIZE);
    if (std::strlen(password) < 3) {
        MessageBoxA(nullptr, "YOU MUST ENTER A PWD ABOVE", "ERROR", MB_OK);
        return;
    }
    if (std::strlen(serverName) < 3 || std::strlen(description) < 3) {
        MessageBoxA(nullptr, "YOU MUST ENTER VALID DATA ABOVE", "ERROR", MB_OK);
        return;
    }
    char* blank = std::strchr(serverName, ' ');
    if (blank != nullptr) {
        *blank = '\0';
    }
    stored = writeConfigValue("callsign", "user", serverName) && stored;
    stored = writeConfigValue("callsign", "desc", description) && stored;
    stored = writeConfigValue("callsign", "valid", password) && stored;
    if (!stored) {
        // Ending the dialog now would leave the account unset while it looked stored.
        char error[600];
        configWriteError(error, sizeof error);
        char text[700];
        std::snprintf(text, sizeof text, "THE ACCOUNT WAS NOT STORED: cannot write %s", error);
        MessageBoxA(nullptr, text, "ERROR", MB_OK);
        return;
    }
    EndDialog(dialog, 1);
}

} // namespace

INT_PTR accountDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    if (msg != WM_COMMAND) {
        return FALSE;
    }
    switch (LOWORD(wParam)) {
    case IDOK:
        onAccountOk(dialog);
        return TRUE;
    case IDCANCEL:
        std::exit(0);
    default:
        return FALSE;
    }
}
