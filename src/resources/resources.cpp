#include "resources/resources.h"

namespace {

const MenuItemTemplate mainMenuItems[] = {
    {CMD_ABOUT, "SERV 3.68 (Pse run minimised)", false},
    {CMD_EXIT, "EXIT", true},
};
const MenuTemplate mainMenu = {MENU_MAIN, mainMenuItems, 2};

const DialogControl aboutControls[] = {
    {IDC_ABOUT_TEXT, ControlKind::Static, "CONFERENCE SERVER 3.68  -  BUILD DATE 5 JUNE 2002", 0, 3,
     4, 170, 31},
    {IDOK, ControlKind::Button, "CLOSE", BS_DEFPUSHBUTTON | WS_TABSTOP, 3, 40, 45, 11},
};
const DialogTemplate aboutDialog = {DIALOG_ABOUT,
                                    "CONFERENCE SERVER FOR OMVAR ",
                                    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU |
                                        DS_MODALFRAME | DS_3DLOOK | DS_SETFONT,
                                    83,
                                    23,
                                    179,
                                    57,
                                    "Arial Black",
                                    10,
                                    aboutControls,
                                    2};

const DialogControl accountControls[] = {
    {605, ControlKind::Static, "SERVER NAME (EG *KENT*) - MUST HAVE THE *'s", 0, 9, 6, 91, 20},
    {IDC_SERVER_NAME, ControlKind::Edit, "", WS_BORDER | WS_TABSTOP | ES_UPPERCASE, 11, 28, 44, 12},
    {606, ControlKind::Static, "DESCRIPTION:", 0, 9, 55, 127, 17},
    {IDC_DESCRIPTION, ControlKind::Edit, "", WS_BORDER | WS_TABSTOP | ES_UPPERCASE, 9, 72, 87, 11},
    {103, ControlKind::Static, "PASSWORD:", 0, 9, 90, 46, 13},
    {IDC_PASSWORD, ControlKind::Edit, "", WS_BORDER | WS_TABSTOP | ES_UPPERCASE, 9, 107, 41, 12},
    {703, ControlKind::Static,
     "Please enter the details of this conference server. Make sure that an e-mail has been "
     "sent to accounts@example.org to set up the account first. The callsign will be *CALL* "
     "as advised.",
     0, 108, 3, 100, 66},
    {IDCANCEL, ControlKind::Button, "A B O R T ", WS_TABSTOP | BS_PUSHBUTTON, 161, 74, 40, 14},
    {IDOK, ControlKind::Button, "O K", BS_PUSHBUTTON, 158, 93, 48, 11},
};
const DialogTemplate accountDialog = {DIALOG_ACCOUNT,
                                      "*** PLEASE EMAIL OR CALL TO SET UP ACCOUNT FIRST ***",
                                      WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                                          DS_SETFONT,
                                      10,
                                      18,
                                      211,
                                      126,
                                      "Arial Black",
                                      10,
                                      accountControls,
                                      9};

const MenuTemplate* const menus[] = {&mainMenu};
const DialogTemplate* const dialogs[] = {&aboutDialog, &accountDialog};

HINSTANCE__ instance = {menus, 1, dialogs, 2};

} // namespace

HINSTANCE programInstance() {
    return &instance;
}
