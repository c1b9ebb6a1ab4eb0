// The terminal window's station panel: the monitor's lines below the main window, drawn
// again when they change, and the operator's actions on a station line. The minimised
// front end ignores the panel.
#pragma once

// The keys of the panel's actions, as its title bar shows them.
constexpr const char* STATION_PANEL_TITLE = "STATIONS  c/Del:close  d:deny  Enter:keys";
// The title while the selected line is the heading or a talk spell.
constexpr const char* STATION_PANEL_NO_ACTION_TITLE =
    "STATIONS  no action on this line (Home: first station)";

// The main window exists: shows the panel and takes its actions from now on.
void stationPanelStart();
// The main window is going: no panel, no action, no hook left behind.
void stationPanelStop();
// Once per tick: the idle seconds and relayed figures shown move on.
void stationPanelTick();

// The operator's action on panel line index, with a key as the panel gives it: 'c' or Del
// closes the station as a BYE does, 'd' denies its callsign in the access file and closes
// it, Enter shows which key does what. Closing and denying ask first (Yes/No, the station
// named); the heading, a talk spell line or a station already closing does nothing.
void stationPanelAct(int index, int key, void* context);
