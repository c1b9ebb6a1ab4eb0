// The operator's actions on the station panel in the real server with the manual clock:
// which panel line is which station (the heading and talk spell lines are never acted on),
// closing after a Yes as a BYE closes (the hold counted in ticks), nothing after a No,
// denying a callsign into the access file byte for byte, the messages when a callsign
// cannot be denied, and a station that leaves while the question waits. Also when the
// panel is asked to redraw. Server on 127.120.0.x, stations on 127.120.N.M.
#include "access/access.h"
#include "app/station_panel.h"
#include "base/app_state.h"
#include "frontend/terminal/terminal_window.h"
#include "monitor/monitor.h"
#include "monitor/monitor_panel.h"
#include "platform/runtime.h"
#include "platform/window/dialog.h"
#include "platform/window/window.h"
#include "stations/station.h"
#include "support/server_harness.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

using testutil::ServerHarness;
using testutil::stationWindows;
using testutil::TestStation;

namespace {

const std::string ACCOUNT = "[callsign]\nuser=*PANEL*\ndesc=TEST\nvalid=PW\n[server]\nver=618\n";

// The questions and messages asked, as "caption|text|type", and the answers given.
std::vector<std::string> asked;
std::vector<int> answers; // taken from the front; IDNO when none is left
std::function<void()> whileAsking;

int answerBox(HWND, const char* text, const char* caption, UINT type) {
    asked.push_back(std::string(caption) + "|" + text + "|" + std::to_string(type & MB_TYPEMASK));
    if (whileAsking) {
        whileAsking();
    }
    if (answers.empty()) {
        return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    }
    int answer = answers.front();
    answers.erase(answers.begin());
    return answer;
}

std::string lineAt(int index) {
    char line[512];
    monitorPanelLine(index, line, sizeof line);
    return line;
}

// The panel index of the station line that shows name, or -1.
int indexOf(const std::string& name) {
    for (int i = 0; i < monitorPanelLineCount(); ++i) {
        if (stationWindowAt(i) != nullptr && lineAt(i).substr(2, name.size() + 1) == name + " ") {
            return i;
        }
    }
    return -1;
}

// A started server with stations named as given on 127.120.<group>.1, .2, ...; each got
// its first keep-alive, which is drained.
class PanelScenario {
  public:
    PanelScenario(int group, const std::vector<std::string>& names, const std::string& extra = "",
                  const std::string& accessFile = "")
        : server("127.120.0." + std::to_string(group), ACCOUNT + extra) {
        if (!accessFile.empty()) {
            accessSetFileOverride(accessFile.c_str());
        }
        accessSetDenialListener(monitorDenied); // as the program does
        started = server.start();
        platformSetMessageBoxHook(answerBox);
        asked.clear();
        answers.clear();
        whileAsking = nullptr;
        for (size_t i = 0; i < names.size(); ++i) {
            stations.push_back(std::make_unique<TestStation>("127.120." + std::to_string(group) +
                                                             "." + std::to_string(i + 1)));
            stations.back()->sendControl(server.address(), names[i].empty()
                                                               ? testutil::emptyReceiverReport()
                                                               : testutil::namePacket(names[i]));
            server.pump();
        }
        server.tick();
        for (auto& s : stations) {
            s->control.drain();
        }
    }
    ~PanelScenario() { whileAsking = nullptr; }
    ServerHarness server;
    bool started = false;
    std::vector<std::unique_ptr<TestStation>> stations;
};

TEST(StationPanel, OnlyStationLinesAreActedOnAndEachIsItsOwnStation) {
    PanelScenario s(1, {"A1", "B2", "C3"});
    ASSERT_TRUE(s.started);
    ASSERT_EQ(stationCount, 3);
    // B2 talks: a talk spell, so the panel has 3 station lines, the heading and a spell.
    s.stations[1]->sendAudio(s.server.address(), std::vector<uint8_t>(144, 0x22));
    s.server.pump();
    ASSERT_EQ(monitorPanelLineCount(), 5);
    EXPECT_EQ(lineAt(3), "Last talk spells");
    EXPECT_NE(lineAt(4).find(" B2 "), std::string::npos) << lineAt(4);
    // Each station line's window holds the record whose name and address the line shows.
    for (int i = 0; i < 3; ++i) {
        HWND window = stationWindowAt(i);
        ASSERT_NE(window, nullptr) << i;
        const StationRecord* record = stationRecordOf(window);
        ASSERT_NE(record, nullptr);
        std::string name = record->name;
        EXPECT_EQ(lineAt(i).substr(2, name.size() + 1), name + " ") << lineAt(i);
        EXPECT_NE(lineAt(i).find(record->addressText), std::string::npos) << lineAt(i);
        EXPECT_EQ(lineAt(i)[0], name == "B2" ? '*' : ' ') << lineAt(i);
    }
    EXPECT_EQ(stationWindowAt(-1), nullptr);
    for (int i = 3; i < 7; ++i) {
        EXPECT_EQ(stationWindowAt(i), nullptr) << i;
    }
    // Every key on the heading, the spell line or past the end: no question, nothing closed.
    answers = {IDYES, IDYES, IDYES, IDYES, IDYES, IDYES, IDYES, IDYES};
    for (int index : {3, 4, 5, -1}) {
        for (int key : {int('c'), int('d'), PLATFORM_PANEL_DELETE, PLATFORM_PANEL_ENTER}) {
            stationPanelAct(index, key, nullptr);
        }
    }
    s.server.pump();
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(stationCount, 3);
    EXPECT_EQ(monitorCounters().byes, 0u);
    // Enter on a station line tells the keys, and closes nothing.
    int b2 = indexOf("B2");
    ASSERT_GE(b2, 0);
    stationPanelAct(b2, PLATFORM_PANEL_ENTER, nullptr);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "STATION|Station B2 (127.120.1.2): c or Del closes it, d denies its "
                        "callsign in the access file.|" +
                            std::to_string(MB_OK));
    s.server.pump();
    EXPECT_EQ(stationCount, 3);
}

TEST(StationPanel, CloseAfterYesIsAByeWithItsHoldAndNoLeavesTheStationAlone) {
    PanelScenario s(2, {"A1", "B2", "C3"});
    ASSERT_TRUE(s.started);
    TestStation& b2 = *s.stations[1];
    const std::string question =
        "CLOSE STATION|Close station B2 (127.120.2.2)?|" + std::to_string(MB_YESNO);
    // No (c, then Del): the station stays and still gets its keep-alive 20 ticks on.
    answers = {IDNO, IDNO};
    stationPanelAct(indexOf("B2"), 'c', nullptr);
    stationPanelAct(indexOf("B2"), PLATFORM_PANEL_DELETE, nullptr);
    EXPECT_EQ(asked, (std::vector<std::string>{question, question}));
    s.server.pump();
    EXPECT_EQ(stationCount, 3);
    s.server.tick(20);
    std::vector<std::vector<uint8_t>> got = b2.control.drain();
    ASSERT_EQ(got.size(), 1u);
    const std::vector<uint8_t> keepAlive = got[0];
    EXPECT_EQ(s.stations[0]->control.drain(), (std::vector<std::vector<uint8_t>>{keepAlive}));
    EXPECT_EQ(s.stations[2]->control.drain(), (std::vector<std::vector<uint8_t>>{keepAlive}));
    for (auto& st : s.stations) {
        st->audio.drain();
        st->sendControl(s.server.address(), testutil::emptyReceiverReport()); // not idle
    }
    s.server.pump();

    // Yes: closed as its BYE would, the hold on its address for 10 ticks.
    asked.clear();
    answers = {IDYES};
    stationPanelAct(indexOf("B2"), PLATFORM_PANEL_DELETE, nullptr);
    EXPECT_EQ(asked, (std::vector<std::string>{question}));
    s.server.pump();
    EXPECT_EQ(stationCount, 2);
    EXPECT_EQ(stationWindows(), 2);
    EXPECT_EQ(indexOf("B2"), -1);
    EXPECT_EQ(s.server.lastStatus(), "CLOSING...");
    EXPECT_EQ(closedHoldTicks, 10);
    EXPECT_EQ(monitorCounters().byes, 1u);
    for (int t = 1; t <= 9; ++t) {
        s.server.tick();
        b2.sendControl(s.server.address(), testutil::namePacket("B2"));
        s.server.pump();
        EXPECT_EQ(stationCount, 2) << "tick " << t;
    }
    // Nothing at all was sent to it since: no keep-alive, no reply. The others go on: A1
    // and C3 get their keep-alive on the 20th tick after the last one.
    EXPECT_TRUE(b2.control.drain().empty());
    EXPECT_TRUE(b2.audio.drain().empty());
    s.server.tick(11);
    EXPECT_EQ(s.stations[0]->control.drain(), (std::vector<std::vector<uint8_t>>{keepAlive}));
    EXPECT_EQ(s.stations[2]->control.drain(), (std::vector<std::vector<uint8_t>>{keepAlive}));
    b2.sendControl(s.server.address(), testutil::namePacket("B2"));
    s.server.pump();
    EXPECT_EQ(stationCount, 3); // the hold is over
}

TEST(StationPanel, AStationThatLeavesWhileAskedIsNotClosedTwiceNorAnotherInItsPlace) {
    PanelScenario s(3, {"A1", "B2"});
    ASSERT_TRUE(s.started);
    int b2 = indexOf("B2");
    ASSERT_GE(b2, 0);
    // While the question waits, B2 says BYE and a new station D4 joins.
    TestStation d4("127.120.3.4");
    whileAsking = [&] {
        s.stations[1]->sendControl(s.server.address(), testutil::receiverReportWithBye());
        s.server.pump();
        d4.sendControl(s.server.address(), testutil::namePacket("D4"));
        s.server.pump();
        whileAsking = nullptr;
    };
    answers = {IDYES, IDOK};
    stationPanelAct(b2, 'c', nullptr);
    s.server.pump();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1],
              "CLOSE STATION|B2 (127.120.3.2) has already left.|" + std::to_string(MB_OK));
    EXPECT_EQ(monitorCounters().byes, 1u); // its own BYE only
    EXPECT_EQ(stationCount, 2);
    EXPECT_GE(indexOf("A1"), 0);
    EXPECT_GE(indexOf("D4"), 0);
}

TEST(StationPanel, NamesInTheQuestionAreEscaped) {
    PanelScenario s(4, {"E\x1b]2;X\x07\\"});
    ASSERT_TRUE(s.started);
    ASSERT_EQ(monitorPanelLineCount(), 1);
    stationPanelAct(0, 'c', nullptr);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "CLOSE STATION|Close station E\\x1B]2;X\\x07\\\\ (127.120.4.1)?|" +
                            std::to_string(MB_YESNO));
    EXPECT_EQ(stationCount, 1);
}

TEST(StationPanel, DenyWithoutAnAccessFileOrACallsignTellsWhyAndClosesNothing) {
    PanelScenario s(5, {"A1", "", "N0*"});
    ASSERT_TRUE(s.started);
    answers = {IDYES, IDYES, IDYES};
    stationPanelAct(indexOf("A1"), 'd', nullptr);
    stationPanelAct(indexOf("-"), 'd', nullptr);
    stationPanelAct(indexOf("N0*"), 'd', nullptr);
    s.server.pump();
    const std::string ok = "|" + std::to_string(MB_OK);
    EXPECT_EQ(asked, (std::vector<std::string>{
                         "DENY CALLSIGN|Station A1 (127.120.5.1) cannot be denied: no access "
                         "file is configured (--access or [access] file)." +
                             ok,
                         "DENY CALLSIGN|Station - (127.120.5.2) has no callsign yet, so there is "
                         "none to deny." +
                             ok,
                         "DENY CALLSIGN|Station N0* (127.120.5.3) has a callsign that an access "
                         "file line cannot name exactly." +
                             ok,
                     }));
    EXPECT_EQ(stationCount, 3);
    EXPECT_EQ(monitorCounters().denials, 0u);
}

TEST(StationPanel, DenyAppendsOneLineKeepingEveryByteAndClosesTheStation) {
    testutil::TempDir dir;
    std::string rules = dir.file("club.access");
    const std::string before = "# club\r\nallow 127.120.0.0/16\r\ndeny X1*";
    testutil::writeFile(rules, before);
    PanelScenario s(6, {"A1", "B2", "C3"}, "", rules);
    ASSERT_TRUE(s.started);
    ASSERT_EQ(stationCount, 3);
    const std::string question =
        "DENY CALLSIGN|Deny callsign B2 (127.120.6.2)? The line \"deny B2\" is added to the "
        "access file and the station is closed.|" +
        std::to_string(MB_YESNO);
    // No: the file is as it was, the station stays.
    answers = {IDNO};
    stationPanelAct(indexOf("B2"), 'd', nullptr);
    s.server.pump();
    EXPECT_EQ(asked, (std::vector<std::string>{question}));
    EXPECT_EQ(testutil::readFile(rules), before);
    EXPECT_EQ(stationCount, 3);
    // Yes: one line more, in the file's own line ends; the station closed by the new rule
    // (a denial, not a second close), held off for 10 ticks, then denied again when it
    // comes back under that name.
    answers = {IDYES};
    stationPanelAct(indexOf("B2"), 'd', nullptr);
    s.server.pump();
    EXPECT_EQ(testutil::readFile(rules), before + "\r\ndeny B2\r\n");
    EXPECT_EQ(stationCount, 2);
    EXPECT_EQ(indexOf("B2"), -1);
    EXPECT_GE(indexOf("A1"), 0);
    EXPECT_GE(indexOf("C3"), 0);
    EXPECT_EQ(s.server.lastStatus(), "CLOSING...");
    EXPECT_EQ(closedHoldTicks, 10);
    EXPECT_EQ(monitorCounters().denials, 1u);
    EXPECT_EQ(monitorCounters().byes, 0u);
    ASSERT_EQ(accessRules()->count, 3);

    // The file turned into a directory: the deny cannot be written and says so.
    ASSERT_EQ(::unlink(rules.c_str()), 0);
    ASSERT_EQ(::mkdir(rules.c_str(), 0700), 0);
    asked.clear();
    answers = {IDYES, IDOK};
    stationPanelAct(indexOf("C3"), 'd', nullptr);
    s.server.pump();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1], "DENY CALLSIGN|The line \"deny C3\" could not be added: the access file "
                        "was left as it was.|" +
                            std::to_string(MB_OK));
    EXPECT_EQ(stationCount, 2);
    ::rmdir(rules.c_str());
}

TEST(StationPanel, ThePanelIsRedrawnWhenWhatItShowsChangesNotForEachDatagram) {
    PanelScenario s(7, {"A1", "B2"});
    ASSERT_TRUE(s.started);
    uint32_t v = monitorPanelVersion();
    TestStation c3("127.120.7.3");
    c3.sendControl(s.server.address(), testutil::emptyReceiverReport());
    s.server.pump();
    EXPECT_NE(monitorPanelVersion(), v) << "join";
    v = monitorPanelVersion();
    c3.sendControl(s.server.address(), testutil::namePacket("C3"));
    s.server.pump();
    EXPECT_NE(monitorPanelVersion(), v) << "name";
    v = monitorPanelVersion();
    s.stations[0]->sendAudio(s.server.address(), std::vector<uint8_t>(144, 0x11));
    s.server.pump();
    EXPECT_NE(monitorPanelVersion(), v) << "talker";
    v = monitorPanelVersion();
    for (int i = 0; i < 5; ++i) { // each a datagram of its own (a repeat is a loop)
        s.stations[0]->sendAudio(s.server.address(),
                                 std::vector<uint8_t>(144, static_cast<uint8_t>(0x20 + i)));
    }
    s.server.pump();
    EXPECT_EQ(monitorPanelVersion(), v) << "the same talker's datagrams";
    EXPECT_EQ(monitorStationAt(indexOf("A1"))->relayed, 6u);
    s.server.tick(3); // the lock's hold runs out: the spell ends
    EXPECT_NE(monitorPanelVersion(), v) << "spell end";
    v = monitorPanelVersion();
    s.stations[1]->sendControl(s.server.address(), testutil::receiverReportWithBye());
    s.server.pump();
    EXPECT_NE(monitorPanelVersion(), v) << "gone";
}

} // namespace
