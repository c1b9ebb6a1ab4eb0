// The private-profile functions on arbitrary file contents. Each input becomes the whole
// configuration file; reads must stay inside their buffers, and one write of a key must
// leave every other line of the file (and a byte-order mark at its start) as it was and
// read back as written.
#include "platform/profile/profile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// A file under a fresh directory in memory-backed storage when there is one.
const std::string& filePath() {
    static std::string path;
    if (path.empty()) {
        char shm[] = "/dev/shm/confserver-fuzz-XXXXXX";
        char tmp[] = "/tmp/confserver-fuzz-XXXXXX";
        const char* dir = mkdtemp(shm);
        if (dir == nullptr) {
            dir = mkdtemp(tmp);
        }
        require(dir != nullptr);
        path = std::string(dir) + "/omvarc.ini";
    }
    return path;
}

void writeWhole(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    require(f != nullptr);
    require(size == 0 || std::fwrite(data, 1, size, f) == size);
    require(std::fclose(f) == 0);
}

std::string readWhole(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    require(f != nullptr);
    char buf[4096];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        out.append(buf, n);
    }
    std::fclose(f);
    return out;
}

// The file's lines without their endings ("\n", and any '\r' before it or at the end).
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t newline = text.find('\n', pos);
        size_t end = newline == std::string::npos ? text.size() : newline;
        std::string line = text.substr(pos, end - pos);
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        pos = newline == std::string::npos ? text.size() : newline + 1;
    }
    return lines;
}

std::string trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// The names and values a write may use (writable, and a value that reads back unchanged:
// no blanks at its ends, no surrounding quotes).
const char* const SECTIONS[] = {"callsign", "SERVER", " window ", "help", "a b", ""};
const char* const KEYS[] = {"user", "MAXUSERS", " x1 ", "c", "1", "k]=", "desc"};
const char* const VALUES[] = {"", "8", "*KENT*", "a b", "x=y", "[z]", ";c", "\"q"};

template <size_t N> const char* pick(const char* const (&table)[N], uint32_t h) {
    return table[h % N];
}

// Reads the key into buffers of several sizes: each result is cut to the buffer, terminated,
// and the same text as the largest read's beginning.
void checkReads(const char* section, const char* key, const std::string& path) {
    char big[1001];
    DWORD whole = GetPrivateProfileStringA(section, key, "dflt", big, sizeof big, path.c_str());
    require(whole < sizeof big && big[whole] == '\0' && std::strlen(big) == whole);
    for (DWORD size : {1u, 2u, 39u, 40u}) {
        std::vector<char> buf(size);
        DWORD n = GetPrivateProfileStringA(section, key, "dflt", buf.data(), size, path.c_str());
        require(n < size && buf[n] == '\0' && n == (whole < size - 1 ? whole : size - 1));
        require(std::memcmp(buf.data(), big, n) == 0);
    }
    (void)GetPrivateProfileIntA(section, key, 8, path.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 16)) {
        return 0;
    }
    const std::string& path = filePath();
    writeWhole(path, data, size);
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < size; ++i) {
        h = (h ^ data[i]) * 16777619u;
    }
    const char* section = pick(SECTIONS, h);
    const char* key = pick(KEYS, h >> 8);
    const char* value = pick(VALUES, h >> 16);
    if (std::strchr(key, '=') != nullptr) {
        // Not writable: refused, and the file stays as it was.
        require(!WritePrivateProfileStringA(section, key, value, path.c_str()));
        require(readWhole(path) == std::string(reinterpret_cast<const char*>(data), size));
        return 0;
    }
    checkReads(section, key, path);
    checkReads("callsign", "user", path);
    checkReads("server", "maxusers", path);

    const std::string before(reinterpret_cast<const char*>(data), size);
    require(WritePrivateProfileStringA(section, key, value, path.c_str()));
    const std::string after = readWhole(path);

    char got[1001];
    GetPrivateProfileStringA(section, key, "<missing>", got, sizeof got, path.c_str());
    require(std::strcmp(got, value) == 0);

    // A byte-order mark at the start stays there and is not part of the first line.
    const std::string mark = "\xEF\xBB\xBF";
    const size_t marked = before.rfind(mark, 0) == 0 ? mark.size() : 0;
    require(after.compare(0, marked, mark, 0, marked) == 0);

    // Every line but the key's is as it was: compare from both ends, then look at the rest.
    const std::vector<std::string> old = linesOf(before.substr(marked));
    const std::vector<std::string> now = linesOf(after.substr(marked));
    size_t head = 0;
    while (head < old.size() && head < now.size() && old[head] == now[head]) {
        ++head;
    }
    size_t tail = 0;
    while (tail < old.size() - head && tail < now.size() - head &&
           old[old.size() - 1 - tail] == now[now.size() - 1 - tail]) {
        ++tail;
    }
    const std::vector<std::string> gone(old.begin() + static_cast<long>(head),
                                        old.end() - static_cast<long>(tail));
    const std::vector<std::string> added(now.begin() + static_cast<long>(head),
                                         now.end() - static_cast<long>(tail));
    const std::string keyLine = trimmed(key) + "=" + value;
    const std::string header = "[" + trimmed(section) + "]";
    if (gone.empty() && added.empty()) {
        return 0; // the key already held the value
    }
    if (gone.size() == 1 && added.size() == 1) {
        // The key's line: the same up to its '=', then the new value.
        const size_t eq = gone[0].find('=');
        require(eq != std::string::npos && added[0].compare(0, eq + 1, gone[0], 0, eq + 1) == 0);
        require(added[0].size() >= std::strlen(value) &&
                added[0].compare(added[0].size() - std::strlen(value), std::string::npos, value) ==
                    0);
        return 0;
    }
    require(gone.empty());
    if (added.size() == 1) {
        require(added[0] == keyLine); // a new key in an existing section
        return 0;
    }
    // A new section at the end of the file, after one blank line unless there is one.
    require(tail == 0);
    require((added.size() == 2 && added[0] == header && added[1] == keyLine) ||
            (added.size() == 3 && added[0].empty() && added[1] == header && added[2] == keyLine));
    return 0;
}
