// The HTTP library's and the journal library's function tables, filled at run time: every
// slot from the real libraries, and a clear reason (the file, or the missing function) with
// the table untouched when a file cannot be loaded or is not the library.
#include "monitor/http_library.h"
#include "monitor/journal_library.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// The slots of a table of function pointers, as numbers (0 for a null slot).
template <typename Table> std::vector<uintptr_t> slots(const Table& table) {
    static_assert(sizeof(Table) % sizeof(void (*)()) == 0);
    std::vector<uintptr_t> out(sizeof(Table) / sizeof(void (*)()));
    std::memcpy(out.data(), &table, sizeof(Table));
    return out;
}

} // namespace

TEST(LibraryLoad, EveryHttpFunctionIsFoundInTheInstalledLibrary) {
    HttpLibrary library{};
    char why[256] = "";
    ASSERT_TRUE(httpLibraryResolve(HTTP_LIBRARY_FILE, &library, why, sizeof why)) << why;
    std::vector<uintptr_t> found = slots(library);
    for (size_t i = 0; i < found.size(); ++i) {
        EXPECT_NE(found[i], 0u) << "slot " << i;
    }
    ASSERT_TRUE(httpLibraryLoad(why, sizeof why)) << why;
    EXPECT_EQ(slots(httpLibrary), found);
}

TEST(LibraryLoad, AMissingHttpLibraryIsNamedAndLeavesTheTableEmpty) {
    HttpLibrary library{};
    char why[256] = "";
    EXPECT_FALSE(httpLibraryResolve("libconfserver-absent.so.12", &library, why, sizeof why));
    std::string text = why;
    EXPECT_EQ(text.rfind("cannot load libconfserver-absent.so.12: ", 0), 0u) << text;
    EXPECT_NE(text.find("No such file"), std::string::npos) << text;
    for (uintptr_t slot : slots(library)) {
        EXPECT_EQ(slot, 0u);
    }
}

TEST(LibraryLoad, ALibraryWithoutTheFunctionsIsRefusedByName) {
    HttpLibrary http{};
    char why[256] = "";
    EXPECT_FALSE(httpLibraryResolve("libc.so.6", &http, why, sizeof why));
    EXPECT_STREQ(why, "libc.so.6 has no function MHD_start_daemon");
    for (uintptr_t slot : slots(http)) {
        EXPECT_EQ(slot, 0u);
    }
    JournalLibrary journal{};
    EXPECT_FALSE(journalLibraryResolve("libc.so.6", &journal, why, sizeof why));
    EXPECT_STREQ(why, "libc.so.6 has no function sd_journal_sendv");
    EXPECT_EQ(journal.sendv, nullptr);
}

TEST(LibraryLoad, TheJournalFunctionIsFoundInTheInstalledLibrary) {
    JournalLibrary journal{};
    char why[256] = "";
    ASSERT_TRUE(journalLibraryResolve(JOURNAL_LIBRARY_FILE, &journal, why, sizeof why)) << why;
    EXPECT_NE(journal.sendv, nullptr);
    EXPECT_FALSE(journalLibraryResolve("libconfserver-absent.so.0", &journal, why, sizeof why));
    EXPECT_EQ(std::string(why).rfind("cannot load libconfserver-absent.so.0: ", 0), 0u) << why;
    EXPECT_NE(journal.sendv, nullptr); // untouched by the failed load
}
