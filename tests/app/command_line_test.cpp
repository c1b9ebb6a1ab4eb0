#include "app/command_line.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Parses the words as argv (with the program name first).
int parse(std::vector<std::string> words, CommandLine* out, std::string* error,
          std::string* help = nullptr) {
    std::vector<char*> argv;
    std::string program = "confserver";
    argv.push_back(program.data());
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    std::string helpText;
    return parseCommandLine(static_cast<int>(argv.size()), argv.data(), out, error,
                            help != nullptr ? help : &helpText);
}

} // namespace

TEST(CommandLine, TheMinimiseSwitchesFormTheCommandLineAndValuesAreNeverOptions) {
    CommandLine cl;
    std::string error;
    ASSERT_EQ(parse({"-M", "--config", "-m", "-m", "--access=--bind"}, &cl, &error), 0) << error;
    EXPECT_EQ(cl.words, "-M -m");
    EXPECT_EQ(cl.configFile, "-m");
    EXPECT_EQ(cl.accessFile, "--bind");
    EXPECT_EQ(cl.timeScale, 1);
    EXPECT_EQ(cl.bindAddress, 0u);
    EXPECT_EQ(controlSocketPath(), nullptr);
}

TEST(CommandLine, EveryOtherWordIsOneLineNamingItAndWhatItResembles) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{"-m", "--config", "c.ini", "-b", "127.66.0.1"},
         "-b: unknown option (did you mean --bind?)"},
        {{"-mv"}, "-mv: unknown option (-m and -M stand alone)"},
        {{"foo"}, "foo: unexpected word (options begin with --; see --help)"},
        {{"-x"}, "-x: unknown option (see --help)"},
        {{"-q", "-m"}, "-q: unknown option (see --help)"},
        {{"--bnid", "127.0.0.1"}, "--bnid: unknown option (did you mean --bind?)"},
        {{"--confgi=a.ini"}, "--confgi=a.ini: unknown option (did you mean --config?)"},
        {{"--"}, "--: unknown option (see --help)"},
        {{"--bind", "127.0.0.1", "--bind", "127.0.0.2"}, "--bind given twice"},
        {{"--time-scale", "abc"}, "--time-scale: abc is not a number from 1 to 1000"},
        {{"--time-scale", "0"}, "--time-scale: 0 is not a number from 1 to 1000"},
        {{"--time-scale", "+5"}, "--time-scale: +5 is not a number from 1 to 1000"},
        {{"--bind", "localhost"}, "--bind: localhost is not an IPv4 address"},
        {{"--config"}, "--config: a value is missing"},
        {{"--version=1"}, "--version: takes no value"},
        {{"--strict"}, "--strict: only with --check-config"},
        {{"--control", ""}, "--control: the path is empty"},
    };
    for (const auto& [words, message] : bad) {
        CommandLine cl;
        std::string error;
        EXPECT_EQ(parse(words, &cl, &error), 2) << message;
        EXPECT_EQ(error, message);
        EXPECT_EQ(cl.bindAddress, 0u) << message;
    }
}

TEST(CommandLine, ControlStrictAndTheControlClientsWords) {
    CommandLine cl;
    std::string error;
    ASSERT_EQ(parse({"--control", "/run/x/control", "-m"}, &cl, &error), 0) << error;
    ASSERT_NE(controlSocketPath(), nullptr);
    EXPECT_STREQ(controlSocketPath(), "/run/x/control");
    CommandLine check;
    ASSERT_EQ(parse({"--check-config", "--strict"}, &check, &error), 0) << error;
    EXPECT_TRUE(check.checkConfig && check.strict);
    EXPECT_EQ(controlSocketPath(), nullptr);
    // The control client's words are its own, whatever they are.
    CommandLine ctl;
    ASSERT_EQ(parse({"ctl", "--socket", "/tmp/s", "close", "-x"}, &ctl, &error), 0) << error;
    EXPECT_TRUE(ctl.control);
    CommandLine late;
    EXPECT_EQ(parse({"-m", "ctl"}, &late, &error), 2);
    EXPECT_EQ(error, "ctl: unexpected word (options begin with --; see --help)");
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
        {"--nonsense"},        {"--time-scale", "0"},   {"--time-scale", "1001"},
        {"--time-scale", "x"}, {"--bind", "300.1.1.1"}, {"--bind", "localhost"},
        {"--config"},          {"--bind", ""},          {"--bind="},
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

TEST(CommandLine, EmptyBindAddressIsAnErrorNotAnyAddress) {
    CommandLine cl;
    std::string error;
    EXPECT_EQ(parse({"-m", "--bind", ""}, &cl, &error), 2);
    EXPECT_EQ(error, "--bind: the address is empty");
    EXPECT_EQ(cl.bindAddress, 0u);
}

TEST(CommandLine, ShortHelpIsTheHelpAndListsTheMinimiseSwitch) {
    CommandLine longForm;
    CommandLine shortForm;
    std::string error;
    std::string longHelp;
    std::string shortHelp;
    ASSERT_EQ(parse({"--help"}, &longForm, &error, &longHelp), 0);
    ASSERT_EQ(parse({"-h"}, &shortForm, &error, &shortHelp), 0);
    EXPECT_TRUE(shortForm.help);
    EXPECT_EQ(shortHelp, longHelp);
    EXPECT_TRUE(shortForm.words.empty());

    // One line per option, in the options list, the minimise switch first after the heading.
    const size_t options = longHelp.find("Options:\n");
    ASSERT_NE(options, std::string::npos) << longHelp;
    const std::string list = longHelp.substr(options + 9);
    EXPECT_EQ(list.rfind("  -m,-M ", 0), 0u) << list;
    for (const char* line : {"  -h,--help ", "  --config FILE ", "  --bind ADDRESS ",
                             "  --time-scale N ", "  --version "}) {
        EXPECT_NE(list.find(line), std::string::npos) << line << "\n" << list;
    }
    EXPECT_NE(longHelp.find("N from 1 to 1000"), std::string::npos) << longHelp;
    for (const char* line : {"  --control PATH ", "  --strict ", "  --check-config "}) {
        EXPECT_NE(list.find(line), std::string::npos) << line << "\n" << list;
    }
    EXPECT_EQ(longHelp.find("Other words"), std::string::npos) << longHelp;
    EXPECT_NE(longHelp.find("-m or -M runs the server minimised"), std::string::npos) << longHelp;
    EXPECT_EQ(longHelp.find("[1 - 1000]"), std::string::npos) << longHelp;
}
