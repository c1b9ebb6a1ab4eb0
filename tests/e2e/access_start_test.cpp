// The built binary with an access file that cannot be used at start: it exits 1 naming
// the file and the reason, before a port is open. Servers on 127.174.10.x.
#include "support/server_process.h"
#include "support/testutil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using testutil::ServerProcess;
using testutil::TempDir;

TEST(AccessStart, AMissingOrIrregularAccessFileIsAStartErrorNamingItAndWhy) {
    TempDir dir;
    std::string config = dir.file("omvarc.ini");
    std::string rules = dir.file("club.access");
    testutil::writeFile(config, "[callsign]\nuser=*E2E*\ndesc=END TO END\nvalid=PW\n"
                                "[server]\nver=618\n1=127.0.0.1\n2=127.0.0.1\n3=127.0.0.1\n"
                                "4=127.0.0.1\n[access]\nfile=club.access\n");
    struct Case {
        const char* what;
        std::string expected;
    } cases[] = {
        {"missing", "Access file " + rules + ": no such file"},
        {"a directory", "Access file " + rules + ": not a regular file"},
    };
    for (const Case& c : cases) {
        if (std::string(c.what) == "a directory") {
            std::filesystem::create_directory(rules);
        }
        ServerProcess server({"-m", "--config", config, "--bind", "127.174.10.1"});
        EXPECT_EQ(server.waitExit(10000), 1) << c.what;
        EXPECT_NE(server.standardError().find(c.expected), std::string::npos)
            << c.what << ": " << server.standardError();
        EXPECT_TRUE(server.statuses().empty()) << c.what; // never served
    }
    // The command line's file is judged the same way.
    ServerProcess given(
        {"-m", "--config", config, "--bind", "127.174.10.1", "--access", dir.file("none.access")});
    EXPECT_EQ(given.waitExit(10000), 1);
    EXPECT_NE(
        given.standardError().find("Access file " + dir.file("none.access") + ": no such file"),
        std::string::npos)
        << given.standardError();
}
