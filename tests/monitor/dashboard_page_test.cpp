// The dashboard compiled into the binary is the page file byte for byte, with its length
// and the zero byte after it, and it loads nothing from outside the server.
#include "monitor/dashboard_page.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string embeddedPage() {
    return std::string(MONITOR_DASHBOARD_HTML, MONITOR_DASHBOARD_HTML_LENGTH);
}

} // namespace

TEST(DashboardPage, IsThePageFileByteForByte) {
    const std::string file =
        testutil::readFile(CONFSERVER_SOURCE_DIR "/src/monitor/dashboard.html");
    ASSERT_GT(file.size(), 1000u);
    EXPECT_EQ(MONITOR_DASHBOARD_HTML_LENGTH, file.size());
    EXPECT_EQ(embeddedPage(), file);
    EXPECT_EQ(MONITOR_DASHBOARD_HTML[MONITOR_DASHBOARD_HTML_LENGTH], '\0');
}

TEST(DashboardPage, NamesNoOtherOriginAndWritesNoMarkupFromData) {
    const std::string page = embeddedPage();
    // The one absolute URL is the SVG namespace, which is a name, not a fetch.
    size_t at = 0;
    int urls = 0;
    while ((at = page.find("://", at)) != std::string::npos) {
        EXPECT_EQ(page.compare(at - 4, 26, "http://www.w3.org/2000/svg"), 0)
            << page.substr(at - 10, 60);
        ++urls;
        at += 3;
    }
    EXPECT_EQ(urls, 1);
    for (const char* markupSink : {"innerHTML", "outerHTML", "insertAdjacentHTML", "document.write",
                                   "<link", "<img", "@import", "url("}) {
        EXPECT_EQ(page.find(markupSink), std::string::npos) << markupSink;
    }
}
