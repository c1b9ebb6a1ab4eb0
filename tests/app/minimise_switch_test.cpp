#include "app/minimise_switch.h"

#include <gtest/gtest.h>

// Every row of the minimise-switch table, and a few more words around it.
TEST(MinimiseSwitch, TableOfCommandLines) {
    struct Row {
        const char* line;
        bool minimised;
    } rows[] = {
        {"-m", true},      {"x -m", true},  {"\t-M", true},    {"-m -q", true}, {"-M", true},
        {"-mx", false},    {"a-m", false},  {"a-m -M", false}, {"", false},     {"-m\r", true},
        {"\v-m\f", true},  {"x\n-M", true}, {"-Mx -m", true},  {"-q", false},   {"--m", false},
        {"-M -mx", false}, {"m -", false},  {"x-M", false},    {"-m-m", false}, {"  -M  ", true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(minimiseSwitchGiven(row.line), row.minimised)
            << "command line: [" << row.line << "]";
    }
    EXPECT_FALSE(minimiseSwitchGiven(nullptr));
}
