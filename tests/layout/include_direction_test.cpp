// Dependencies point down the layers of the tree: a file includes headers of its own top
// folder, of top folders on a lower layer and the platform's public headers, never a folder
// on its own layer or above it, and never another folder's private header. The layers are
// listed here bottom first, as README's "How the code is laid out" draws them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Layer of each top folder of src/. A folder missing here fails the test, so a new one gets
// a place. check (--check-config) reads the settings of every subsystem, so it sits above
// them all, just below app, whose entry runs it.
const std::map<std::string, int> LAYER = {
    {"platform", 0}, {"frontend", 1}, {"base", 2},   {"resources", 2}, {"config", 3},
    {"access", 4},   {"monitor", 5},  {"links", 6},  {"stations", 7},  {"control", 8},
    {"audio", 9},    {"ctl", 10},     {"check", 11}, {"app", 12},
};

// Headers that only their own folder may include (the platform's folders share theirs), in
// addition to every header named *_internal.h. platform/stream/output_stream.h is public.
const std::set<std::string> PRIVATE_HEADERS = {
    "platform/loop/loop.h",
    "platform/desktop/desktop.h",
    "platform/window/window_table.h",
    "frontend/terminal/terminal.h",
};

// The folder a file or header lives in: "platform/loop" for platform/loop/queue.cpp.
std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

std::string topOf(const std::string& path) {
    return path.substr(0, path.find('/'));
}

bool isPrivate(const std::string& header) {
    const std::string suffix = "_internal.h";
    return PRIVATE_HEADERS.count(header) != 0 ||
           (header.size() > suffix.size() &&
            header.compare(header.size() - suffix.size(), suffix.size(), suffix) == 0);
}

struct Include {
    std::string file;   // relative to src/
    std::string header; // as written: "audio/relay.h"
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
            const size_t end = line.find('"', prefix.size());
            std::string header = line.substr(prefix.size(), end - prefix.size());
            if (end != std::string::npos && header.find('/') != std::string::npos) {
                found.push_back({fs::relative(entry.path(), src).string(), header});
            }
        }
    }
    return found;
}

// What is wrong with one include, or "" when it points down (or stays in its folder).
std::string judge(const Include& include) {
    const std::string fromTop = topOf(include.file);
    const std::string toTop = topOf(include.header);
    auto fromLayer = LAYER.find(fromTop);
    auto toLayer = LAYER.find(toTop);
    if (fromLayer == LAYER.end() || toLayer == LAYER.end()) {
        return "a folder with no layer";
    }
    const bool platformShares = fromTop == "platform" && toTop == "platform";
    if (isPrivate(include.header) && folderOf(include.file) != folderOf(include.header) &&
        !platformShares) {
        return "private to " + folderOf(include.header);
    }
    if (fromTop != toTop && toLayer->second >= fromLayer->second) {
        return "not below " + fromTop;
    }
    return "";
}

TEST(IncludeDirection, EveryIncludeNamesItsOwnFolderOrALowerLayer) {
    const std::vector<Include> includes = projectIncludes(fs::path(CONFSERVER_SOURCE_DIR) / "src");
    ASSERT_GT(includes.size(), 100u) << "the sources were not found";
    for (const Include& include : includes) {
        const std::string why = judge(include);
        EXPECT_EQ(why, "") << include.file << ": " << include.header;
    }
}

// The judge itself: each kind of wrong include is named, and the allowed ones pass.
TEST(IncludeDirection, JudgeNamesEachKindOfWrongInclude) {
    EXPECT_EQ(judge({"monitor/monitor_json.cpp", "stations/station.h"}), "not below monitor");
    EXPECT_EQ(judge({"links/links_peer.cpp", "stations/station.h"}), "not below links");
    EXPECT_EQ(judge({"stations/station.h", "stations/station_set.h"}), "");
    EXPECT_EQ(judge({"stations/admission.cpp", "links/links.h"}), "");
    EXPECT_EQ(judge({"audio/relay.cpp", "links/links_internal.h"}), "private to links");
    EXPECT_EQ(judge({"frontend/minimised/a.cpp", "frontend/terminal/terminal.h"}),
              "private to frontend/terminal");
    EXPECT_EQ(judge({"platform/window/window.cpp", "platform/loop/loop.h"}), "");
    EXPECT_EQ(judge({"platform/window/frontend.cpp", "frontend/minimised/minimised.h"}),
              "not below platform");
    EXPECT_EQ(judge({"config/config.cpp", "access/access.h"}), "not below config");
    EXPECT_EQ(judge({"base/app_state.cpp", "resources/resources.h"}), "not below base");
    EXPECT_EQ(judge({"newfolder/a.cpp", "base/app_state.h"}), "a folder with no layer");
}

} // namespace
