// The rule set's storage and its verdicts. Two hash tables: address rules keyed by
// (network, prefix length), callsign patterns keyed by (lower-case text, wildcard or not).
// An address is judged by one probe per prefix length that the set uses (at most 33), a
// name by one probe for the exact pattern and one per wildcard pattern length (at most 64),
// so a verdict costs the same for ten rules or a million. Judging allocates nothing.
#include "access/access_rules.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t FIRST_CAPACITY = 16;
constexpr uint32_t MOVE_PER_INSERT = 4; // the move of a growth ends before the next growth

struct AddressSlot {
    uint32_t network; // host order
    int32_t denyLine; // 0: no deny rule of this pattern
    int32_t allowLine;
    uint8_t prefix;
    uint8_t used;
};

struct NameSlot {
    uint32_t hash;
    uint32_t textAt; // into the set's text
    int32_t denyLine;
    int32_t allowLine;
    uint8_t length;
    uint8_t wildcard;
    uint8_t used;
};

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

uint32_t mix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

uint32_t addressHash(uint32_t network, uint8_t prefix) {
    return mix(network ^ (static_cast<uint32_t>(prefix) * 0x9E3779B9u));
}

// FNV-1a of the lower-case text, then the wildcard flag.
uint32_t nameHash(const char* lower, size_t length, uint8_t wildcard) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < length; ++i) {
        h = (h ^ static_cast<unsigned char>(lower[i])) * 16777619u;
    }
    return mix(h ^ wildcard);
}

// What a table needs to know of its slot type: the hash of a used slot.
uint32_t slotHash(const AddressSlot& s) {
    return addressHash(s.network, s.prefix);
}
uint32_t slotHash(const NameSlot& s) {
    return s.hash;
}

template <typename Slot> Slot* slotsOf(void* p) {
    return static_cast<Slot*>(p);
}

// The slot of table slots (capacity a power of two) where same(slot) holds, or the free
// slot where such a slot would go.
template <typename Slot, typename Same>
Slot* probe(void* slots, uint32_t capacity, uint32_t hash, Same same) {
    Slot* table = slotsOf<Slot>(slots);
    uint32_t mask = capacity - 1;
    for (uint32_t i = hash & mask;; i = (i + 1) & mask) {
        if (table[i].used == 0 || same(table[i])) {
            return &table[i];
        }
    }
}

// The used slot for which same holds, in the table or in the one it grew from; null.
template <typename Slot, typename Same>
Slot* findSlot(const AccessTable& t, uint32_t hash, Same same) {
    if (t.capacity == 0) {
        return nullptr;
    }
    Slot* s = probe<Slot>(t.slots, t.capacity, hash, same);
    if (s->used != 0) {
        return s;
    }
    if (t.old != nullptr) {
        s = probe<Slot>(t.old, t.oldCapacity, hash, same);
        if (s->used != 0) {
            return s;
        }
    }
    return nullptr;
}

// Moves up to maxSlots slots of the table before the last growth; true when none is left.
template <typename Slot> bool moveSlots(AccessTable* t, uint32_t maxSlots) {
    if (t->old == nullptr) {
        return true;
    }
    Slot* old = slotsOf<Slot>(t->old);
    for (uint32_t n = 0; n < maxSlots && t->moved < t->oldCapacity; ++n, ++t->moved) {
        const Slot& s = old[t->moved];
        if (s.used != 0) {
            // Never in the new table: an insertion looks in the old one first.
            *probe<Slot>(t->slots, t->capacity, slotHash(s), [](const Slot&) { return false; }) = s;
        }
    }
    if (t->moved < t->oldCapacity) {
        return false;
    }
    std::free(t->old);
    t->old = nullptr;
    t->oldCapacity = 0;
    t->moved = 0;
    return true;
}

// Makes room for one more slot: doubles the table when it would be more than half full.
// False when memory ran out (the table is unchanged).
template <typename Slot> bool makeRoom(AccessTable* t) {
    if (t->capacity != 0 && (t->used + 1) * 2 <= t->capacity) {
        return true;
    }
    moveSlots<Slot>(t, UINT32_MAX); // never left by the time the table is half full again
    uint32_t capacity = t->capacity == 0 ? FIRST_CAPACITY : t->capacity * 2;
    void* slots = std::calloc(capacity, sizeof(Slot));
    if (slots == nullptr) {
        return false;
    }
    t->old = t->slots;
    t->oldCapacity = t->old != nullptr ? t->capacity : 0;
    t->moved = 0;
    t->slots = slots;
    t->capacity = capacity;
    return true;
}

void freeTable(AccessTable* t) {
    std::free(t->slots);
    std::free(t->old);
    *t = AccessTable{};
}

// Records the rule's line in a slot's first deny or first allow line.
void noteLine(int32_t* denyLine, int32_t* allowLine, const AccessRule& rule) {
    int32_t* line = rule.allow != 0 ? allowLine : denyLine;
    if (*line == 0 || rule.line < *line) {
        *line = rule.line;
    }
}

bool addAddress(AccessRuleSet* set, const AccessRule& rule) {
    uint8_t prefix = 0;
    for (uint32_t m = rule.mask; m != 0; m <<= 1) {
        ++prefix;
    }
    uint32_t hash = addressHash(rule.network, prefix);
    auto same = [&](const AddressSlot& s) {
        return s.network == rule.network && s.prefix == prefix;
    };
    AccessTable* t = &set->addresses;
    AddressSlot* slot = findSlot<AddressSlot>(*t, hash, same);
    if (slot == nullptr) {
        if (!makeRoom<AddressSlot>(t)) {
            return false;
        }
        slot = probe<AddressSlot>(t->slots, t->capacity, hash, same);
        *slot = AddressSlot{rule.network, 0, 0, prefix, 1};
        ++t->used;
    }
    noteLine(&slot->denyLine, &slot->allowLine, rule);
    set->prefixLengths |= uint64_t{1} << prefix;
    moveSlots<AddressSlot>(t, MOVE_PER_INSERT);
    return true;
}

// Appends text to the set's text; its offset, or UINT32_MAX when memory ran out.
uint32_t keepText(AccessRuleSet* set, const char* text, size_t length) {
    if (set->textUsed + length > set->textCapacity) {
        size_t capacity = set->textCapacity == 0 ? 1024 : set->textCapacity * 2;
        while (capacity < set->textUsed + length) {
            capacity *= 2;
        }
        if (capacity > UINT32_MAX) {
            return UINT32_MAX;
        }
        char* grown = static_cast<char*>(std::realloc(set->text, capacity));
        if (grown == nullptr) {
            return UINT32_MAX;
        }
        set->text = grown;
        set->textCapacity = capacity;
    }
    if (length > 0) { // "*" alone keeps no text, and may come before any other
        std::memcpy(set->text + set->textUsed, text, length);
    }
    auto at = static_cast<uint32_t>(set->textUsed);
    set->textUsed += length;
    return at;
}

bool addName(AccessRuleSet* set, const AccessRule& rule) {
    char lower[ACCESS_PATTERN_MAX + 1];
    size_t length = rule.length;
    for (size_t i = 0; i < length; ++i) {
        lower[i] = lowerAscii(rule.text[i]);
    }
    uint32_t hash = nameHash(lower, length, rule.prefix);
    const char* text = set->text;
    auto same = [&](const NameSlot& s) {
        return s.hash == hash && s.length == length && s.wildcard == rule.prefix &&
               (length == 0 || std::memcmp(text + s.textAt, lower, length) == 0);
    };
    AccessTable* t = &set->names;
    NameSlot* slot = findSlot<NameSlot>(*t, hash, same);
    if (slot == nullptr) {
        uint32_t at = keepText(set, lower, length);
        if (at == UINT32_MAX || !makeRoom<NameSlot>(t)) {
            return false;
        }
        slot = probe<NameSlot>(t->slots, t->capacity, hash, [](const NameSlot&) { return false; });
        *slot = NameSlot{hash, at, 0, 0, static_cast<uint8_t>(length), rule.prefix, 1};
        ++t->used;
    }
    noteLine(&slot->denyLine, &slot->allowLine, rule);
    if (rule.prefix != 0) {
        set->wildcardLengths |= uint64_t{1} << length;
    }
    moveSlots<NameSlot>(t, MOVE_PER_INSERT);
    return true;
}

// The verdict from the first deny and first allow line of what matched (0: none).
AccessVerdict verdict(int32_t denyLine, int32_t allowLine, int allowsOfKind) {
    if (denyLine != 0) {
        return {false, denyLine};
    }
    if (allowLine != 0) {
        return {true, allowLine};
    }
    return {allowsOfKind == 0, ACCESS_NO_RULE_LINE};
}

void firstLines(int32_t* denyLine, int32_t* allowLine, int32_t slotDeny, int32_t slotAllow) {
    if (slotDeny != 0 && (*denyLine == 0 || slotDeny < *denyLine)) {
        *denyLine = slotDeny;
    }
    if (slotAllow != 0 && (*allowLine == 0 || slotAllow < *allowLine)) {
        *allowLine = slotAllow;
    }
}

} // namespace

AccessRuleSet::~AccessRuleSet() {
    accessClearRules(this);
}

void accessClearRules(AccessRuleSet* set) {
    freeTable(&set->addresses);
    freeTable(&set->names);
    std::free(set->text);
    set->text = nullptr;
    set->textUsed = 0;
    set->textCapacity = 0;
    set->count = 0;
    set->addressAllows = 0;
    set->callsignAllows = 0;
    set->leftOut = 0;
    set->failed = false;
    set->prefixLengths = 0;
    set->wildcardLengths = 0;
}

bool accessAddRule(AccessRuleSet* set, const AccessRule& rule) {
    if (set->failed) {
        return false;
    }
    if (set->count == ACCESS_MAX_RULES) {
        ++set->leftOut;
        return true;
    }
    bool added = rule.kind == ACCESS_ADDRESS ? addAddress(set, rule) : addName(set, rule);
    if (!added) {
        set->failed = true;
        return false;
    }
    ++set->count;
    if (rule.allow != 0) {
        ++(rule.kind == ACCESS_ADDRESS ? set->addressAllows : set->callsignAllows);
    }
    return true;
}

bool accessSettleRules(AccessRuleSet* set, uint32_t maxSlots) {
    bool addressesDone = moveSlots<AddressSlot>(&set->addresses, maxSlots);
    return moveSlots<NameSlot>(&set->names, maxSlots) && addressesDone;
}

AccessVerdict accessJudgeAddress(const AccessRuleSet* set, uint32_t address) {
    uint32_t host = ntohl(address);
    int32_t denyLine = 0;
    int32_t allowLine = 0;
    for (uint64_t lengths = set->prefixLengths; lengths != 0; lengths &= lengths - 1) {
        auto prefix = static_cast<uint8_t>(__builtin_ctzll(lengths));
        uint32_t mask = prefix == 0 ? 0u : ~0u << (32 - prefix);
        uint32_t network = host & mask;
        const AddressSlot* s = findSlot<AddressSlot>(
            set->addresses, addressHash(network, prefix),
            [&](const AddressSlot& x) { return x.network == network && x.prefix == prefix; });
        if (s != nullptr) {
            firstLines(&denyLine, &allowLine, s->denyLine, s->allowLine);
        }
    }
    return verdict(denyLine, allowLine, set->addressAllows);
}

AccessVerdict accessJudgeName(const AccessRuleSet* set, const char* name) {
    // Patterns are at most ACCESS_PATTERN_MAX characters: a longer name can only match a
    // wildcard, through its first characters.
    char lower[ACCESS_PATTERN_MAX + 1];
    size_t length = 0;
    while (name[length] != '\0' && length <= static_cast<size_t>(ACCESS_PATTERN_MAX)) {
        lower[length] = lowerAscii(name[length]);
        ++length;
    }
    bool whole = name[length] == '\0';
    int32_t denyLine = 0;
    int32_t allowLine = 0;
    auto look = [&](size_t n, uint8_t wildcard) {
        uint32_t hash = nameHash(lower, n, wildcard);
        const NameSlot* s = findSlot<NameSlot>(set->names, hash, [&](const NameSlot& x) {
            return x.hash == hash && x.length == n && x.wildcard == wildcard &&
                   (n == 0 || std::memcmp(set->text + x.textAt, lower, n) == 0);
        });
        if (s != nullptr) {
            firstLines(&denyLine, &allowLine, s->denyLine, s->allowLine);
        }
    };
    if (whole && set->names.capacity != 0) {
        look(length, 0);
    }
    for (uint64_t lengths = set->wildcardLengths; lengths != 0; lengths &= lengths - 1) {
        auto n = static_cast<size_t>(__builtin_ctzll(lengths));
        if (n <= length) {
            look(n, 1);
        }
    }
    return verdict(denyLine, allowLine, set->callsignAllows);
}
