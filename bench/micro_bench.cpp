// Micro benchmarks of the code that runs per control packet and per relayed datagram: the two
// packet builders, the readers of received compounds, and the station list steps with a full
// conference of 26 stations. Each benchmark checks its result once, so a reader that took
// another path than the one named (a rejected packet, an item not found) stops the benchmark
// with an error instead of timing the wrong thing.
#include "audio/station_list.h"
#include "control/rtcp.h"
#include "platform/runtime.h"
#include "stations/station.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Appends the bytes of one packet: header (version 3, count, type, length field from the
// size) and body padded with zeros to whole words.
void putPacket(Bytes& out, uint8_t count, uint8_t type, Bytes body) {
    while (body.size() % 4 != 0) {
        body.push_back(0);
    }
    const size_t words = body.size() / 4;
    out.insert(out.end(), {static_cast<uint8_t>(0xC0 | count), type,
                           static_cast<uint8_t>(words >> 8), static_cast<uint8_t>(words)});
    out.insert(out.end(), body.begin(), body.end());
}

Bytes ssrc(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

// SDES chunk body: SSRC, the items (type, length, text), the end byte.
Bytes chunk(uint32_t source, const std::vector<std::pair<uint8_t, std::string>>& items) {
    Bytes body = ssrc(source);
    for (const auto& [type, text] : items) {
        body.push_back(type);
        body.push_back(static_cast<uint8_t>(text.size()));
        body.insert(body.end(), text.begin(), text.end());
    }
    body.push_back(0);
    return body;
}

// What a station sends every few seconds: RR + SDES with CNAME, NAME, EMAIL and TOOL.
Bytes stationReport() {
    Bytes out;
    putPacket(out, 0, RTCP_RR, ssrc(0x11223344));
    putPacket(out, 1, RTCP_SDES,
              chunk(0x11223344, {{SDES_CNAME, "CALLSIGN"},
                                 {SDES_NAME, "PA3XYZ-L Somewhere"},
                                 {SDES_EMAIL, "CALLSIGN"},
                                 {SDES_TOOL, "station 1.0"}}));
    return out;
}

// A station leaving: RR + BYE.
Bytes stationBye() {
    Bytes out;
    putPacket(out, 0, RTCP_RR, ssrc(0x11223344));
    putPacket(out, 1, RTCP_BYE, ssrc(0x11223344));
    return out;
}

// RR + SDES + APP "SFtc" (a compound that changes no name).
Bytes reportWithApp() {
    Bytes out = stationReport();
    Bytes app = ssrc(0x11223344);
    app.insert(app.end(), {'S', 'F', 't', 'c', 0, 0, 0, 1});
    putPacket(out, 0, RTCP_APP, app);
    return out;
}

int size(const Bytes& b) {
    return static_cast<int>(b.size());
}

// The configuration file read by the keep-alive builder, in a private temporary directory.
class ConfigFile {
  public:
    ConfigFile() {
        char pattern[] = "/tmp/micro_bench.XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            directory_ = pattern;
            path_ = directory_ + "/omvarc.ini";
            FILE* f = std::fopen(path_.c_str(), "w");
            if (f != nullptr) {
                std::fputs("[callsign]\nuser=*BENCH*\ndesc=BENCH\nvalid=PW\n[server]\nver=618\n",
                           f);
                std::fclose(f);
            }
            platformSetProfileFile("omvarc.ini", path_.c_str());
        }
    }
    ~ConfigFile() {
        std::remove(path_.c_str());
        rmdir(directory_.c_str());
    }
    ConfigFile(const ConfigFile&) = delete;
    ConfigFile& operator=(const ConfigFile&) = delete;

  private:
    std::string directory_;
    std::string path_;
};

void BM_BuildKeepAliveCompound(benchmark::State& state) {
    ConfigFile config;
    int length = 0;
    for (auto _ : state) {
        uint8_t* block = nullptr;
        length = buildKeepAliveCompound(0, &block);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
    if (length != 60) { // NAME "*BENCH*": 56 bytes, a multiple of 8, so 4 padding bytes more
        state.SkipWithError("keep-alive compound of an unexpected size");
    }
}
BENCHMARK(BM_BuildKeepAliveCompound);

void BM_BuildByeCompound(benchmark::State& state) {
    uint8_t buffer[512];
    int length = 0;
    for (auto _ : state) {
        length = buildByeCompound(buffer, 0, "Term");
        benchmark::DoNotOptimize(buffer);
    }
    if (length != 28) {
        state.SkipWithError("BYE compound of an unexpected size");
    }
}
BENCHMARK(BM_BuildByeCompound);

void BM_CheckCompound(benchmark::State& state) {
    const Bytes packet = stationReport();
    bool ok = false;
    for (auto _ : state) {
        ok = rtcpCheckCompound(packet.data(), size(packet));
        benchmark::DoNotOptimize(ok);
    }
    if (!ok) {
        state.SkipWithError("compound rejected");
    }
}
BENCHMARK(BM_CheckCompound);

// arg 1: a compound with a BYE; arg 0: a report without one (the common case).
void BM_HasBye(benchmark::State& state) {
    const bool withBye = state.range(0) == 1;
    const Bytes packet = withBye ? stationBye() : stationReport();
    bool found = false;
    for (auto _ : state) {
        found = rtcpHasBye(packet.data(), size(packet));
        benchmark::DoNotOptimize(found);
    }
    if (found != withBye) {
        state.SkipWithError("BYE test gave the wrong answer");
    }
}
BENCHMARK(BM_HasBye)->Arg(0)->Arg(1);

// arg 1: the APP packet is there (third packet); arg 0: the walk goes to the end.
void BM_FindApp(benchmark::State& state) {
    const bool withApp = state.range(0) == 1;
    const Bytes packet = withApp ? reportWithApp() : stationReport();
    bool found = false;
    for (auto _ : state) {
        const uint8_t* app = nullptr;
        found = rtcpFindApp(packet.data(), size(packet), "SFtc", &app);
        benchmark::DoNotOptimize(app);
    }
    if (found != withApp) {
        state.SkipWithError("APP search gave the wrong answer");
    }
}
BENCHMARK(BM_FindApp)->Arg(0)->Arg(1);

// The handler's naming path: the four wanted types, then the NAME item's text.
void BM_GetSdesItems(benchmark::State& state) {
    const Bytes packet = stationReport();
    char name[256] = "";
    bool found = false;
    for (auto _ : state) {
        SdesItemTable table = namingItemTable();
        found = rtcpGetSdesItems(packet.data(), size(packet), &table) &&
                table.entries[1].item != nullptr;
        if (found) {
            sdesItemText(table.entries[1].item, name);
        }
        benchmark::DoNotOptimize(name);
    }
    if (!found || std::strcmp(name, "PA3XYZ-L Somewhere") != 0) {
        state.SkipWithError("NAME item not found");
    }
}
BENCHMARK(BM_GetSdesItems);

// A full conference of 26 active stations in window order, the sender first.
class Conference {
  public:
    explicit Conference(size_t nameLength) {
        records_.resize(26);
        for (size_t i = 0; i < records_.size(); ++i) {
            StationRecord& r = records_[i];
            r.state = STATION_ACTIVE;
            r.audioSocket = INVALID_SOCKET;
            r.controlSocket = INVALID_SOCKET;
            std::snprintf(r.addressText, sizeof r.addressText, "127.60.200.%d",
                          static_cast<int>(i % 200) + 1);
            std::string name = "BENCH" + std::to_string(i + 1);
            name.resize(nameLength, 'X');
            names_.push_back(name);
        }
        for (size_t i = 0; i < records_.size(); ++i) {
            records_[i].name = names_[i].data();
        }
        stationCount = 26;
    }
    ~Conference() { stationCount = 0; }
    Conference(const Conference&) = delete;
    Conference& operator=(const Conference&) = delete;

    // The list steps of one relayed datagram from station 0 at the given cycle (the send
    // step is left out: it is a socket send).
    void relayed(int32_t cycle) {
        listCycle = cycle;
        listStart();
        for (size_t i = 0; i < records_.size(); ++i) {
            if (i == 0) {
                listAddTalker(&records_[i]);
            } else {
                listAddStation(&records_[i]);
            }
        }
        listHints();
    }

  private:
    std::vector<StationRecord> records_;
    std::vector<std::string> names_;
};

// arg: length of each of the 26 names. 7 fits whole (the list is about 270 bytes); 30 does
// not fit in the 516-byte text, so lines are dropped from the end to make room for the hint.
void BM_ListBuild(benchmark::State& state) {
    Conference conference(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        conference.relayed(9);
        benchmark::DoNotOptimize(listText);
    }
    const size_t length = std::strlen(listText);
    const bool hint = std::strstr(listText, "\rPlease pause between overs!\r") != nullptr;
    if (!hint || length >= LIST_TEXT_SIZE || std::strncmp(listText, "oNDATACONF V3.67:", 17)) {
        state.SkipWithError("unexpected list text");
    }
    state.counters["bytes"] = static_cast<double>(length);
}
BENCHMARK(BM_ListBuild)->Arg(7)->Arg(30);

// The list steps on an ordinary relayed datagram (no build, no send): the per-datagram cost
// that 58 of every 60 relayed datagrams pay.
void BM_ListStepsIdle(benchmark::State& state) {
    Conference conference(7);
    for (auto _ : state) {
        conference.relayed(5);
        benchmark::DoNotOptimize(listText);
    }
}
BENCHMARK(BM_ListStepsIdle);

} // namespace

BENCHMARK_MAIN();
