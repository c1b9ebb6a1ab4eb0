#include "config/nearest_name.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t LONGEST = 63;
constexpr int UNLIKE = 1000;

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

int nameDistance(const char* a, const char* b) {
    size_t n = std::strlen(a);
    size_t m = std::strlen(b);
    if (n > LONGEST || m > LONGEST) {
        return UNLIKE;
    }
    // Three rows of the optimal string alignment table, bounded by the longest word.
    int before[LONGEST + 1];
    int previous[LONGEST + 1];
    int current[LONGEST + 1];
    for (size_t j = 0; j <= m; ++j) {
        previous[j] = static_cast<int>(j);
        before[j] = 0;
    }
    for (size_t i = 1; i <= n; ++i) {
        current[0] = static_cast<int>(i);
        for (size_t j = 1; j <= m; ++j) {
            int cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
            int best = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) &&
                lower(a[i - 2]) == lower(b[j - 1])) {
                best = std::min(best, before[j - 2] + 1);
            }
            current[j] = best;
        }
        std::memcpy(before, previous, sizeof before);
        std::memcpy(previous, current, sizeof previous);
    }
    return previous[m];
}

const char* nearestName(const char* word, const char* const* names, size_t count) {
    size_t length = std::strlen(word);
    int allowed = length <= 2 ? 0 : length <= 4 ? 1 : 2;
    const char* nearest = nullptr;
    int nearestDistance = allowed + 1;
    for (size_t i = 0; i < count; ++i) {
        int d = nameDistance(word, names[i]);
        if (d < nearestDistance) {
            nearest = names[i];
            nearestDistance = d;
        }
    }
    return nearest;
}
