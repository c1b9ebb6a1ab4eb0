// The monitor's figures: counters, the per-station figures (kept in the station set, at
// each station's index) and the ring of the last 50 talk spells, with the narrow calls that
// keep them. Nothing here allocates or enters the
// kernel: the calls on the relay path touch a few words and read the monotonic clock.
#include "monitor/monitor_internal.h"
#include "monitor/monitor_panel.h"
#include "stations/station.h"

#include <cstring>

namespace {

MonitorCounters counters{};
MonitorSpell spells[MONITOR_MAX_SPELLS]{};
// When each spell's talker was last relayed: a spell runs from its first relayed datagram to
// its last, so the talker lock's hang time after the talk is no part of it.
int64_t spellLastAtMs[MONITOR_MAX_SPELLS]{};
int spellNewest = -1; // index of the newest spell in the ring, -1: none yet
int spellCount = 0;
const StationRecord* talkerRecord = nullptr; // the open spell's station while it exists
uint32_t panelVersion = 0; // moves on whenever a panel line other than a figure changes

// The figures of record's station, or null when it is in no station set entry.
StationFigures* slotOf(const StationRecord* record) {
    const int i = record != nullptr ? stationIndexOf(record) : -1;
    return i >= 0 ? &stationSet.figures[i] : nullptr;
}

// An event about record (its name as it is now, its address).
MonitorEvent stationEvent(MonitorEventKind kind, const StationRecord* record) {
    MonitorEvent event{};
    event.kind = kind;
    event.atMs = monitorNowMs();
    monitorEventStation(&event, record->name, record->source.sin_addr.s_addr);
    return event;
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
    if (StationFigures* slot = slotOf(talkerRecord)) {
        slot->talking = false;
    }
    talkerRecord = nullptr;
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
    for (StationFigures& figures : stationSet.figures) {
        figures = StationFigures{};
    }
    std::memset(spells, 0, sizeof spells);
    std::memset(spellLastAtMs, 0, sizeof spellLastAtMs);
    spellNewest = -1;
    spellCount = 0;
    talkerRecord = nullptr;
    ++panelVersion;
}

void monitorJoined(const StationRecord* record) {
    ++counters.joins;
    if (StationFigures* slot = slotOf(record)) {
        *slot = StationFigures{};
        slot->joinedAtMs = monitorNowMs();
        slot->lastHeardAtMs = slot->joinedAtMs;
    }
    ++panelVersion;
    monitorEmit(stationEvent(MonitorEventKind::Join, record));
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

void monitorNamed(const StationRecord* record) {
    // A spell that began before its talker had a name takes the name it gets.
    if (record == talkerRecord && spellNewest >= 0 && spells[spellNewest].open &&
        spells[spellNewest].name[0] == '\0') {
        copyName(spells[spellNewest].name, record->name);
    }
    ++panelVersion;
    monitorEmit(stationEvent(MonitorEventKind::Name, record));
}

void monitorRelayed(const StationRecord* record, int copies) {
    ++counters.relayed;
    counters.copiesSent += static_cast<uint64_t>(copies);
    if (StationFigures* slot = slotOf(record)) {
        ++slot->relayed;
        slot->lastHeardAtMs = monitorNowMs();
        if (record == talkerRecord) {
            spellLastAtMs[spellNewest] = slot->lastHeardAtMs;
        }
    }
}

void monitorFirewalled(const StationRecord* record) {
    ++counters.firewalled;
    if (StationFigures* slot = slotOf(record)) {
        ++slot->firewalled;
        slot->lastHeardAtMs = monitorNowMs();
    }
}

void monitorLoop() {
    ++counters.loops;
}

void monitorMuted(const StationRecord* record) {
    ++counters.muted;
    if (StationFigures* slot = slotOf(record)) {
        ++slot->muted;
        slot->lastHeardAtMs = monitorNowMs();
    }
}

void monitorRateLimited(const StationRecord* record) {
    ++counters.rateLimited;
    if (StationFigures* slot = slotOf(record)) {
        ++slot->rateLimited;
        slot->lastHeardAtMs = monitorNowMs();
    }
}

void monitorTalkLimit(const StationRecord* record) {
    monitorEmit(stationEvent(MonitorEventKind::TalkLimit, record));
}

void monitorUnnamedClosed(const StationRecord* record) {
    monitorEmit(stationEvent(MonitorEventKind::Unnamed, record));
}

void monitorHeard(const StationRecord* record) {
    if (StationFigures* slot = slotOf(record)) {
        slot->lastHeardAtMs = monitorNowMs();
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

void monitorTalker(const StationRecord* record) {
    closeSpell();
    if (record == nullptr) {
        return;
    }
    spellNewest = (spellNewest + 1) % MONITOR_MAX_SPELLS;
    if (spellCount < MONITOR_MAX_SPELLS) {
        ++spellCount;
    }
    MonitorSpell& spell = spells[spellNewest];
    copyName(spell.name, record->name);
    spell.address = record->source.sin_addr.s_addr;
    spell.startedAtMs = monitorNowMs();
    spellLastAtMs[spellNewest] = spell.startedAtMs;
    spell.durationMs = 0;
    spell.open = true;
    talkerRecord = record;
    if (StationFigures* slot = slotOf(record)) {
        slot->talking = true;
    }
    ++panelVersion;
}

void monitorBye(const StationRecord* record) {
    ++counters.byes;
    monitorEmit(stationEvent(MonitorEventKind::Bye, record));
}

void monitorTimedOut(const StationRecord* record) {
    ++counters.timeouts;
    monitorEmit(stationEvent(MonitorEventKind::Timeout, record));
}

void monitorGone(const StationRecord* record) {
    if (talkerRecord == record) {
        talkerRecord = nullptr; // the spell stays open until the lock is free
    }
    ++panelVersion;
}

// A link event: the host (escaped) and the address; the reason for link-down.
void linkEvent(MonitorEventKind kind, const char* host, uint32_t address, const char* reason) {
    MonitorEvent event{};
    event.kind = kind;
    event.atMs = monitorNowMs();
    event.hasLink = true;
    escapeText(host, event.link, sizeof event.link);
    event.address = address;
    event.reason = reason != nullptr ? reason : "closed";
    ++panelVersion;
    monitorEmit(event);
}

void monitorLinkUp(const char* host, uint32_t address) {
    linkEvent(MonitorEventKind::LinkUp, host, address, nullptr);
}

void monitorLinkDown(const char* host, uint32_t address, const char* reason) {
    linkEvent(MonitorEventKind::LinkDown, host, address, reason);
}

void monitorLinkChanged() {
    ++panelVersion;
}

uint32_t monitorPanelVersion() {
    return panelVersion;
}

const StationFigures* monitorFiguresOf(const StationRecord* record) {
    return slotOf(record);
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
