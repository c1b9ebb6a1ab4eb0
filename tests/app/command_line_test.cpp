#include "app/command_line.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Parses the words as argv (with the program name first).
int parse(std::vector<std::string> words, CommandLine* out, std::string* error) {
    std::vector<char*> argv;
    std::string program = "confserver";
    argv.push_back(program.data());
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    std::string help;
    return parseCommandLine(static_cast<int>(argv.size()), argv.data(), out, error, &help);
}

} // namespace

TEST(CommandLine, WordsThatAreNotLongOptionsFormTheCommandLine) {
    CommandLine cl;
    std::string error;
    ASSERT_EQ(parse({"-m", "--config", "/tmp/x.ini", "-q", "a-m"}, &cl, &error), 0) << error;
    EXPECT_EQ(cl.words, "-m -q a-m");
    EXPECT_EQ(cl.configFile, "/tmp/x.ini");
    EXPECT_EQ(cl.timeScale, 1);
    EXPECT_EQ(cl.bindAddress, 0u);
}

TEST(CommandLine, BindAndTimeScale) {
    CommandLine cl;
    std::string error;
    ASSERT_EQ(parse({"--bind", "127.3.4.5", "--time-scale", "1000", "-M"}, &cl, &error), 0);
    in_addr expected{};
    inet_pton(AF_INET, "127.3.4.5", &expected);
    EXPECT_EQ(cl.bindAddress, expected.s_addr);
    EXPECT_EQ(cl.timeScale, 1000);
    EXPECT_EQ(cl.words, "-M");
}

TEST(CommandLine, BadInputIsExitCodeTwoWithOneLine) {
    const std::vector<std::vector<std::string>> bad = {
        {"--nonsense"}, {"--time-scale", "0"},    {"--time-scale", "1001"},
        {"--time-scale", "x"}, {"--bind", "300.1.1.1"}, {"--bind", "localhost"},
        {"--config"},
    };
    for (const auto& words : bad) {
        CommandLine cl;
        std::string error;
        EXPECT_EQ(parse(words, &cl, &error), 2) << words[0];
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(CommandLine, HelpAndVersion) {
    CommandLine cl;
    std::string error;
    ASSERT_EQ(parse({"--version"}, &cl, &error), 0);
    EXPECT_TRUE(cl.version);
    CommandLine helped;
    ASSERT_EQ(parse({"--help"}, &helped, &error), 0);
    EXPECT_TRUE(helped.help);
}
