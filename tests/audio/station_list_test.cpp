// The station list text built by the list steps, byte for byte.
#include "audio/station_list.h"
#include "stations/station.h"
#include "support/server_harness.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// A station record as admission leaves it, with a name (or none).
StationRecord station(const char* name, const char* address) {
    StationRecord r{};
    r.state = STATION_ACTIVE;
    r.audioSocket = INVALID_SOCKET;
    r.controlSocket = INVALID_SOCKET;
    std::snprintf(r.addressText, sizeof r.addressText, "%s", address);
    r.name = name ? strdup(name) : nullptr;
    return r;
}

// Runs the build of one relayed datagram with listCycle 9 over the stations in window order;
// talker is the index of the sender.
std::string build(std::vector<StationRecord>& stations, size_t talker) {
    listCycle = 9;
    listStart();
    for (size_t i = 0; i < stations.size(); ++i) {
        if (stations[i].state != STATION_ACTIVE) {
            continue;
        }
        if (std::strcmp(stations[i].addressText, stations[talker].addressText) != 0) {
            listAddStation(&stations[i]);
        } else {
            listAddTalker(&stations[i]);
        }
    }
    listHints();
    return std::string(listText);
}

class StationListText : public ::testing::Test {
  protected:
    void SetUp() override { testutil::resetServerState(); }
    void TearDown() override {
        for (StationRecord& r : stations) {
            std::free(r.name);
        }
        testutil::resetServerState();
    }
    std::vector<StationRecord> stations;
};

} // namespace

TEST_F(StationListText, TalkerMarkedAndParenthesisedNameLeftOut) {
    stations = {station("A1", "127.1.0.1"), station("B2", "127.1.0.2"),
                station("(C3)", "127.1.0.3")};
    stationCount = 3;
    std::string text = build(stations, 1);
    EXPECT_EQ(text, std::string("oNDATACONF V3.67:\r\rA1\rB2 <\r"));
    EXPECT_EQ(text.size(), 27u);
    EXPECT_EQ(linkedFlag, 0);
}

TEST_F(StationListText, HintsForManyStationsAndForLinkedRepeaters) {
    stations = {station("A1", "127.1.0.1"), station("B2", "127.1.0.2"), station("C3", "127.1.0.3"),
                station("D4", "127.1.0.4"), station("E5", "127.1.0.5")};
    stationCount = 5;
    EXPECT_EQ(
        build(stations, 0),
        std::string("oNDATACONF V3.67:\r\rA1 <\rB2\rC3\rD4\rE5\r\rPlease pause between overs!\r"));

    std::free(stations[3].name);
    stations[3].name = strdup("X-L");
    EXPECT_EQ(build(stations, 0), std::string("oNDATACONF V3.67:\r\rA1 <\rB2\rC3\rX-L\rE5\r"
                                              "\rThere are linked repeaters\rpresent, use 4-6 "
                                              "sec pauses.\r"));
    EXPECT_EQ(linkedFlag, 1);

    // With two stations the linked hint still comes; the pause hint never does.
    std::vector<StationRecord> two = {station("X-L", "127.1.0.8"), station("Q", "127.1.0.9")};
    stationCount = 2;
    EXPECT_EQ(build(two, 1), std::string("oNDATACONF V3.67:\r\rX-L\rQ <\r\rThere are linked "
                                         "repeaters\rpresent, use 4-6 sec pauses.\r"));
    for (StationRecord& r : two) {
        std::free(r.name);
    }
}

TEST_F(StationListText, HiddenLinkedNameSetsNoHintAndUnnamedOrClosingStationsAreLeftOut) {
    stations = {station("(X-L)", "127.1.0.1"), station(nullptr, "127.1.0.2"),
                station("CL", "127.1.0.3"), station("OK", "127.1.0.4")};
    stations[2].state = STATION_CLOSING;
    stationCount = 3;
    EXPECT_EQ(build(stations, 3), std::string("oNDATACONF V3.67:\r\rOK <\r"));
    EXPECT_EQ(linkedFlag, 0);
}

TEST_F(StationListText, OtherCyclesLeaveTheTextAlone) {
    stations = {station("A1", "127.1.0.1")};
    std::string before = build(stations, 0);
    for (int cycle : {0, 8, 10, 11, 59}) {
        listCycle = cycle;
        listStart();
        listAddTalker(&stations[0]);
        listHints();
        EXPECT_EQ(std::string(listText), before) << cycle;
    }
}

// 26 stations with 255-character names: whole lines are dropped from the end, the hint
// still ends the text, and nothing is written past the 516-byte buffer.
TEST_F(StationListText, FullConferenceOfLongNamesStaysWithinTheBuffer) {
    for (int i = 0; i < 26; ++i) {
        std::string name(255, static_cast<char>('A' + i));
        char address[16];
        std::snprintf(address, sizeof address, "127.1.1.%d", i + 1);
        stations.push_back(station(name.c_str(), address));
    }
    stationCount = 26;
    std::string text = build(stations, 0);
    EXPECT_LT(text.size(), 516u);
    const std::string header = "oNDATACONF V3.67:\r\r";
    const std::string hint = "\rPlease pause between overs!\r";
    ASSERT_EQ(text.compare(0, header.size(), header), 0);
    ASSERT_GE(text.size(), header.size() + hint.size());
    EXPECT_EQ(text.substr(text.size() - hint.size()), hint);
    std::string lines = text.substr(header.size(), text.size() - header.size() - hint.size());
    // Every line listed is a whole name: 255 equal letters, then the talker mark or "\r".
    size_t pos = 0;
    int count = 0;
    while (pos < lines.size()) {
        size_t end = lines.find('\r', pos);
        ASSERT_NE(end, std::string::npos);
        std::string line = lines.substr(pos, end - pos);
        std::string expected(255, static_cast<char>('A' + count));
        EXPECT_EQ(line, count == 0 ? expected + " <" : expected);
        pos = end + 1;
        ++count;
    }
    EXPECT_EQ(count, 1); // two 255-character lines and the hint do not fit in 515 bytes
    EXPECT_EQ(listText[515], '\0');
}
