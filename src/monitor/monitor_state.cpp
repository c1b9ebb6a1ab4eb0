// The monitor's figures: counters, the per-station table (one entry per station of the
// station set, at the same index: told of each insert at the front and each removal) and
// the ring of the last 50 talk spells, with the narrow calls that keep them. Nothing here
// allocates or enters the kernel: the calls on the relay path touch a few words and read
// the monotonic clock.
#include "monitor/monitor_internal.h"
#include "monitor/monitor_panel.h"

#include <cstring>

namespace {

MonitorCounters counters{};
MonitorStation stations[MONITOR_MAX_STATIONS]{};
int stationCount = 0;
bool talkerHeld = false;
uint32_t talkerAt = 0; // the lock's holder's address while talkerHeld
MonitorSpell spells[MONITOR_MAX_SPELLS]{};
// When each spell's talker was last relayed: a spell runs from its first relayed datagram to
// its last, so the talker lock's hang time after the talk is no part of it.
int64_t spellLastAtMs[MONITOR_MAX_SPELLS]{};
int spellNewest = -1; // index of the newest spell in the ring, -1: none yet
int spellCount = 0;
uint32_t panelVersion = 0; // moves on whenever a panel line other than a figure changes

// The entry of the station at index, or null when there is none.
MonitorStation* slotOf(int index) {
    return static_cast<unsigned>(index) < static_cast<unsigned>(stationCount) ? &stations[index]
                                                                              : nullptr;
}

// Writes an event about the station at index (its name as it is now, its address).
void stationEvent(MonitorEventKind kind, int index) {
    const MonitorStation* station = slotOf(index);
    if (station == nullptr) {
        return;
    }
    MonitorEvent event{};
    event.kind = kind;
    event.atMs = monitorNowMs();
    monitorEventStation(&event, station->named ? station->name : nullptr, station->address);
    monitorEmit(event);
}

// Copies a name into a spell, cut to its buffer ("" for none).
void copyName(char* out, const char* name) {
    out[0] = '\0';
    if (name != nullptr) {
        std::strncpy(out, name, MONITOR_NAME_SIZE - 1);
        out[MONITOR_NAME_SIZE - 1] = '\0';
    }
}

// Closes the open spell, if any: its length is fixed and its talk event written.
void closeSpell() {
    if (spellNewest < 0 || !spells[spellNewest].open) {
        return;
    }
    MonitorSpell& spell = spells[spellNewest];
    spell.open = false;
    spell.durationMs = spellLastAtMs[&spell - spells] - spell.startedAtMs;
    for (int i = 0; i < stationCount; ++i) {
        stations[i].talking = false;
    }
    ++panelVersion;
    MonitorEvent event{};
    event.kind = MonitorEventKind::Talk;
    event.atMs = monitorNowMs();
    monitorEventStation(&event, spell.name[0] != '\0' ? spell.name : nullptr, spell.address);
    event.durationMs = spell.durationMs;
    monitorEmit(event);
}

} // namespace

void monitorResetFigures() {
    counters = MonitorCounters{};
    // The stations stay (the station set still holds them); only their figures go.
    for (int i = 0; i < stationCount; ++i) {
        MonitorStation& station = stations[i];
        station.talking = false;
        station.joinedAtMs = station.lastHeardAtMs = 0;
        station.relayed = station.firewalled = station.muted = station.rateLimited = 0;
    }
    talkerHeld = false;
    talkerAt = 0;
    std::memset(spells, 0, sizeof spells);
    std::memset(spellLastAtMs, 0, sizeof spellLastAtMs);
    spellNewest = -1;
    spellCount = 0;
    ++panelVersion;
}

void monitorStationInserted(uint32_t address) {
    if (stationCount >= MONITOR_MAX_STATIONS) {
        return;
    }
    std::memmove(&stations[1], &stations[0],
                 static_cast<size_t>(stationCount) * sizeof stations[0]);
    ++stationCount;
    stations[0] = MonitorStation{};
    stations[0].address = address;
}

void monitorStationRemoved(int index) {
    if (slotOf(index) == nullptr) {
        return;
    }
    std::memmove(&stations[index], &stations[index + 1],
                 static_cast<size_t>(stationCount - index - 1) * sizeof stations[0]);
    --stationCount;
    ++panelVersion;
}

void monitorStationsCleared() {
    stationCount = 0;
    std::memset(stations, 0, sizeof stations);
}

void monitorJoined(int index) {
    ++counters.joins;
    if (MonitorStation* slot = slotOf(index)) {
        slot->joinedAtMs = monitorNowMs();
        slot->lastHeardAtMs = slot->joinedAtMs;
    }
    ++panelVersion;
    stationEvent(MonitorEventKind::Join, index);
}

void monitorRefused(uint32_t address) {
    ++counters.refusals;
    MonitorEvent event{};
    event.kind = MonitorEventKind::Refuse;
    event.atMs = monitorNowMs();
    monitorEventStation(&event, nullptr, address);
    monitorEmit(event);
}

void monitorRefusalSuppressed() {
    ++counters.refusals;
    ++counters.refusalsSuppressed;
    monitorNoteRefusalSuppressed();
}

void monitorDenied(const char* name, uint32_t address, int line) {
    ++counters.denials;
    MonitorEvent event{};
    event.kind = MonitorEventKind::Deny;
    event.atMs = monitorNowMs();
    monitorEventStation(&event, name, address);
    event.line = line;
    monitorEmit(event);
}

void monitorNamed(int index, const char* name) {
    MonitorStation* slot = slotOf(index);
    if (slot == nullptr) {
        return;
    }
    copyName(slot->name, name);
    slot->named = name != nullptr;
    // A spell that began before its talker had a name takes the name it gets.
    if (slot->talking && spellNewest >= 0 && spells[spellNewest].open &&
        spells[spellNewest].name[0] == '\0') {
        copyName(spells[spellNewest].name, name);
    }
    ++panelVersion;
    stationEvent(MonitorEventKind::Name, index);
}

void monitorRelayed(int index, int copies) {
    ++counters.relayed;
    counters.copiesSent += static_cast<uint64_t>(copies);
    if (MonitorStation* slot = slotOf(index)) {
        ++slot->relayed;
        slot->idleTicks = 0;
        slot->lastHeardAtMs = monitorNowMs();
        if (slot->talking) {
            spellLastAtMs[spellNewest] = slot->lastHeardAtMs;
        }
    }
}

void monitorFirewalled(int index) {
    ++counters.firewalled;
    if (MonitorStation* slot = slotOf(index)) {
        ++slot->firewalled;
        slot->lastHeardAtMs = monitorNowMs();
    }
}

void monitorLoop() {
    ++counters.loops;
}

void monitorMuted(int index) {
    ++counters.muted;
    if (MonitorStation* slot = slotOf(index)) {
        ++slot->muted;
        slot->lastHeardAtMs = monitorNowMs();
    }
}

void monitorRateLimited(int index) {
    ++counters.rateLimited;
    if (MonitorStation* slot = slotOf(index)) {
        ++slot->rateLimited;
        slot->lastHeardAtMs = monitorNowMs();
    }
}

void monitorTalkLimit(int index) {
    stationEvent(MonitorEventKind::TalkLimit, index);
}

void monitorUnnamedClosed(int index) {
    stationEvent(MonitorEventKind::Unnamed, index);
}

void monitorHeard(int index) {
    if (MonitorStation* slot = slotOf(index)) {
        slot->lastHeardAtMs = monitorNowMs();
        slot->idleTicks = 0;
        slot->closing = false;
    }
}

void monitorIdleTick(int index) {
    if (MonitorStation* slot = slotOf(index)) {
        ++slot->idleTicks;
    }
}

void monitorClosing(int index) {
    if (MonitorStation* slot = slotOf(index)) {
        slot->closing = true;
    }
}

void monitorUnregistered() {
    ++counters.unregistered;
}
void monitorTextDatagram() {
    ++counters.textDatagrams;
}
void monitorControlError() {
    ++counters.controlErrors;
}
void monitorBeaconSent() {
    ++counters.beacons;
}
void monitorKeepAliveSent() {
    ++counters.keepalives;
}

void monitorQueueCleared(int drained) {
    ++counters.queueClears;
    counters.drained += static_cast<uint64_t>(drained);
    monitorNoteQueueClear(drained);
}

void monitorTalkerFree() {
    talkerHeld = false;
    closeSpell();
}

void monitorTalker(int index) {
    closeSpell();
    MonitorStation* slot = slotOf(index);
    if (slot == nullptr) {
        return;
    }
    talkerHeld = true;
    talkerAt = slot->address;
    spellNewest = (spellNewest + 1) % MONITOR_MAX_SPELLS;
    if (spellCount < MONITOR_MAX_SPELLS) {
        ++spellCount;
    }
    MonitorSpell& spell = spells[spellNewest];
    copyName(spell.name, slot->named ? slot->name : nullptr);
    spell.address = slot->address;
    spell.startedAtMs = monitorNowMs();
    spellLastAtMs[spellNewest] = spell.startedAtMs;
    spell.durationMs = 0;
    spell.open = true;
    slot->talking = true;
    ++panelVersion;
}

void monitorBye(int index) {
    ++counters.byes;
    stationEvent(MonitorEventKind::Bye, index);
}

void monitorTimedOut(int index) {
    ++counters.timeouts;
    stationEvent(MonitorEventKind::Timeout, index);
}

void monitorPanelChanged() {
    ++panelVersion;
}

uint32_t monitorPanelVersion() {
    return panelVersion;
}

int monitorStationCount() {
    return stationCount;
}

const MonitorStation* monitorStationAt(int index) {
    return slotOf(index);
}

bool monitorTalkerAddress(uint32_t* address) {
    if (talkerHeld) {
        *address = talkerAt;
    }
    return talkerHeld;
}

int monitorSpellCount() {
    return spellCount;
}

const MonitorSpell* monitorSpell(int newestFirst) {
    if (newestFirst < 0 || newestFirst >= spellCount) {
        return nullptr;
    }
    MonitorSpell& spell =
        spells[(spellNewest - newestFirst + MONITOR_MAX_SPELLS) % MONITOR_MAX_SPELLS];
    if (spell.open) {
        spell.durationMs = spellLastAtMs[&spell - spells] - spell.startedAtMs;
    }
    return &spell;
}

const MonitorCounters& monitorCounters() {
    return counters;
}
