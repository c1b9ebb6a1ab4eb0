// The hint at the end of the station list text must fit: when the listed lines leave less
// room than the hint needs, whole lines are dropped from the end (the talker's line
// included, if it is last) until it fits, and never a part of a line.
#include "audio/station_list.h"
#include "stations/station.h"
#include "support/server_harness.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const std::string HEADER = "oNDATACONF V3.67:\r\r";
const std::string PAUSE_HINT = "\rPlease pause between overs!\r";
const std::string LINKED_HINT = "\rThere are linked repeaters\rpresent, use 4-6 sec pauses.\r";

class HintRoom : public ::testing::Test {
  protected:
    void SetUp() override { testutil::resetServerState(); }
    void TearDown() override {
        for (StationRecord& r : stations) {
            std::free(r.name);
        }
        testutil::resetServerState();
    }

    void add(const std::string& name) {
        StationRecord r{};
        r.state = STATION_ACTIVE;
        r.audioSocket = INVALID_SOCKET;
        r.controlSocket = INVALID_SOCKET;
        std::snprintf(r.addressText, sizeof r.addressText, "127.70.9.%zu", stations.size() + 1);
        r.name = strdup(name.c_str());
        stations.push_back(r);
    }

    // The text built for one relayed datagram with listCycle 9; talker is the sender.
    std::string build(size_t talker) {
        stationCount = static_cast<int32_t>(stations.size());
        listCycle = 9;
        listStart();
        for (size_t i = 0; i < stations.size(); ++i) {
            if (i == talker) {
                listAddTalker(&stations[i]);
            } else {
                listAddStation(&stations[i]);
            }
        }
        listHints();
        return std::string(listText);
    }

    std::vector<StationRecord> stations;
};

} // namespace

TEST_F(HintRoom, LastLineGivesWayToThePauseHint) {
    // Header 19 + three lines of 121 + one of 118 = 500 bytes: all four lines fit in the 515
    // usable bytes, but the 29-byte hint then does not, so the fourth line goes.
    add(std::string(118, 'T')); // the talker: 118 + " <\r" = 121
    add(std::string(120, 'B'));
    add(std::string(120, 'C'));
    add(std::string(117, 'D'));
    const std::string text = build(0);
    EXPECT_EQ(text, HEADER + std::string(118, 'T') + " <\r" + std::string(120, 'B') + "\r" +
                        std::string(120, 'C') + "\r" + PAUSE_HINT);
    EXPECT_EQ(listText[text.size()], '\0');
}

TEST_F(HintRoom, TheLongerLinkedHintDropsAsManyLinesAsItNeeds) {
    // Header 19 + lines of 101, 101, 101, 137 and 21 = 480 bytes. The 57-byte linked hint
    // does not fit after dropping the last line (459 + 57 = 516), so the talker's line goes
    // too (322 + 57 = 379).
    add(std::string(100, 'A'));
    add("X-" + std::string(98, 'L')); // a linked repeater: 100 + "\r"
    add(std::string(100, 'C'));
    add(std::string(134, 'T')); // the talker: 134 + " <\r" = 137
    add(std::string(20, 'E'));
    const std::string text = build(3);
    EXPECT_EQ(text, HEADER + std::string(100, 'A') + "\r" + "X-" + std::string(98, 'L') + "\r" +
                        std::string(100, 'C') + "\r" + LINKED_HINT);
    EXPECT_EQ(linkedFlag, 1);
}

TEST_F(HintRoom, ExactFitKeepsEveryLine) {
    // Header 19 + 4 lines totalling 467 = 486; with the 29-byte hint 515 bytes and the zero
    // byte: exactly the buffer, so nothing is dropped.
    add(std::string(115, 'A'));
    add(std::string(115, 'B'));
    add(std::string(115, 'C'));
    add(std::string(116, 'D'));
    const std::string text = build(0);
    EXPECT_EQ(text.size(), 515u);
    EXPECT_EQ(text, HEADER + std::string(115, 'A') + " <\r" + std::string(115, 'B') + "\r" +
                        std::string(115, 'C') + "\r" + std::string(116, 'D') + "\r" + PAUSE_HINT);
}
