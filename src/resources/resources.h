// The program's resources as data: menu 2000 and the dialog templates 107 (about) and
// 3200 (account), reached through the module instance.
#pragma once

#include "platform/window/dialog.h"

constexpr int MENU_MAIN = 2000;
constexpr int ICON_MAIN = 1000;
constexpr int DIALOG_ABOUT = 107;
constexpr int DIALOG_ACCOUNT = 3200;

constexpr int CMD_ABOUT = 122;
constexpr int CMD_EXIT = 2003;

constexpr int IDC_ABOUT_TEXT = 350;
constexpr int IDC_SERVER_NAME = 600;
constexpr int IDC_DESCRIPTION = 601;
constexpr int IDC_PASSWORD = 602;

// The module instance whose resources the program's windows and dialogs are made from.
HINSTANCE programInstance();
