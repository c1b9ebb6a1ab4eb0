// Dependencies point down the layers of the tree: a file includes headers of its own folder,
// of folders on a lower layer and the platform's public headers, never a folder on its own
// layer or above it, and never another folder's private header. The layers are listed here
// bottom first, as README's "How the code is laid out" draws them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Layer of each top folder of src/ (the platform's folders count as one layer, each front
// end as one above it). A folder missing here fails the test, so a new one gets a place.
// check (--check-config) reads the settings of every subsystem, so it sits above them all,
// just below app, whose entry runs it.
const std::map<std::string, int> LAYER = {
    {"platform", 0}, {"frontend", 1}, {"base", 2},     {"resources", 2}, {"config", 3},
    {"access", 4},   {"monitor", 5},  {"stations", 6}, {"control", 7},   {"audio", 8},
    {"links", 9},    {"ctl", 10},     {"check", 11},   {"app", 12},
};

// Headers that only their own folder may include.
const std::set<std::string> PRIVATE_HEADERS = {
    "platform/loop/loop.h",
    "platform/net/winsock_internal.h",
    "platform/profile/profile_internal.h",
    "platform/desktop/desktop.h",
    "frontend/terminal/terminal.h",
};

// "platform/loop" for src/platform/loop/queue.cpp, "audio" for src/audio/relay.cpp.
std::string folderOf(const std::string& relative) {
    size_t first = relative.find('/');
    std::string top = relative.substr(0, first);
    if (top == "platform" || top == "frontend") {
        size_t second = relative.find('/', first + 1);
        if (second != std::string::npos) {
            return relative.substr(0, second);
        }
    }
    return top;
}

std::string topOf(const std::string& folder) {
    return folder.substr(0, folder.find('/'));
}

struct Include {
    std::string file;
    std::string header;
};

// Every #include "..." of the sources under src/ that names a header by its folder.
std::vector<Include> projectIncludes(const fs::path& src) {
    std::vector<Include> found;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        const std::string extension = entry.path().extension().string();
        if (!entry.is_regular_file() || (extension != ".cpp" && extension != ".h")) {
            continue;
        }
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) {
            const std::string prefix = "#include \"";
            if (line.rfind(prefix, 0) != 0) {
                continue;
            }
            std::string header =
                line.substr(prefix.size(), line.find('"', prefix.size()) - prefix.size());
            if (header.find('/') != std::string::npos) {
                found.push_back({fs::relative(entry.path(), src).string(), header});
            }
        }
    }
    return found;
}

TEST(IncludeDirection, EveryIncludeNamesItsOwnFolderOrALowerLayer) {
    const std::vector<Include> includes = projectIncludes(fs::path(CONFSERVER_SOURCE_DIR) / "src");
    ASSERT_GT(includes.size(), 100u) << "the sources were not found";
    std::vector<std::string> wrong;
    for (const Include& include : includes) {
        const std::string from = folderOf(include.file);
        const std::string to = folderOf(include.header);
        auto fromLayer = LAYER.find(topOf(from));
        auto toLayer = LAYER.find(topOf(to));
        if (fromLayer == LAYER.end() || toLayer == LAYER.end()) {
            wrong.push_back(include.file + ": " + include.header + " (a folder with no layer)");
            continue;
        }
        // The platform's folders share their private headers among themselves.
        const bool withinPlatform = topOf(from) == "platform" && topOf(to) == "platform";
        if (PRIVATE_HEADERS.count(include.header) != 0 && from != to && !withinPlatform) {
            wrong.push_back(include.file + ": " + include.header + " (private to its folder)");
            continue;
        }
        if (from != to && !withinPlatform && toLayer->second >= fromLayer->second) {
            wrong.push_back(include.file + ": " + include.header + " (not below " + from + ")");
        }
    }
    for (const std::string& line : wrong) {
        ADD_FAILURE() << line;
    }
}

} // namespace
