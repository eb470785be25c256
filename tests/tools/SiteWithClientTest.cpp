// The engine's HTTP client against the sample site: the site takes what the client sends, over
// one kept-alive connection, and what comes back reads as the crawl expects.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/HttpClient.h"
#include "text/CodePage.h"
#include "text/TextOps.h"
#include "tools/SampleSite.h"
#include "tools/SiteContent.h"

namespace velmora::site {
namespace {

class SiteWithClient : public ::testing::Test {
protected:
    void Open(SiteOptions options) {
        site = std::make_unique<SampleSite>(std::move(options));
        ASSERT_TRUE(site->Start()) << site->Error();
        client.Open(Text(kDefaultUserAgent));
    }
    Text Fetch(const std::string& url) {
        client.Get(url);
        return client.ReadBodyTextUtf8();
    }

    std::unique_ptr<SampleSite> site;
    HttpClient client;
};

TEST_F(SiteWithClient, ACrawlOfOneSearchRunsOverOneConnection) {
    SiteOptions options;
    options.pages = 2;
    options.linksPerPage = 3;
    Open(options);
    Text first = Fetch(site->SearchUrl("机械"));
    EXPECT_EQ(TextBetween(first, Utf8ToSystem("页次: 1/"), "&nbsp;&nbsp;", 10000), "2");
    EXPECT_EQ(TextBetween(first, Utf8ToSystem("总数: "), "&nbsp;&nbsp;", 10000), "6");
    Text second = Fetch(site->SearchUrl("机械", 2));
    Text company = Fetch(site->CompanyUrl("机械", 6));
    EXPECT_NE(FindText(second, site->CompanyUrl("机械", 6)), -1);
    CompanyRecord record = GenerateCompany(KeywordSeed("机械"), 6);
    EXPECT_NE(FindText(company, Utf8ToSystem(record.address)), -1);

    std::vector<RecordedRequest> requests = site->Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const RecordedRequest& request : requests) {
        EXPECT_EQ(request.connection, requests[0].connection);
        EXPECT_EQ(request.method, "GET");
        EXPECT_FALSE(request.fault);
        for (const char* name :
             {"Host", "Accept", "Referer", "Accept-Language", "User-Agent", "Connection"}) {
            EXPECT_TRUE(request.Header(name)) << name;
        }
        EXPECT_EQ(request.Header("User-Agent"), std::string(kDefaultUserAgent));
    }
    EXPECT_EQ(requests[0].target, SearchTarget("机械"));
    EXPECT_EQ(requests[1].target, SearchTarget("机械", 2));
    EXPECT_EQ(requests[2].target, CompanyTarget(KeywordSeed("机械"), 6));
}

TEST_F(SiteWithClient, FaultsReachTheClientAsEmptyOrErrorText) {
    SiteOptions options;
    options.faults = {*ParseFaultRule("reset:company=1"), *ParseFaultRule("500:company=2"),
                      *ParseFaultRule("slow:company=3")};
    options.slowMs = 50;
    options.companyPageBytes = 8000;
    Open(options);
    EXPECT_EQ(Fetch(site->CompanyUrl("a", 1)), "");
    EXPECT_NE(FindText(Fetch(site->CompanyUrl("a", 2)), "500 Internal Server Error"), -1);
    Text slow = Fetch(site->CompanyUrl("a", 3));
    EXPECT_GE(slow.size(), 5000u);
    EXPECT_NE(FindText(slow, "</html>"), -1);
    // After a reset the client connects afresh; the site sees a new connection.
    Text after = Fetch(site->CompanyUrl("a", 4));
    EXPECT_NE(FindText(after, "class=\"mp4\""), -1);
    std::vector<RecordedRequest> requests = site->Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_NE(requests[1].connection, requests[0].connection);
}

TEST_F(SiteWithClient, HostileAnswersEndAsFailuresAndStrayBytesCostNoPage) {
    SiteOptions options;
    options.faults = {*ParseFaultRule("trickle:company=1"), *ParseFaultRule("slow:company=2"),
                      *ParseFaultRule("late:company=3")};
    options.trickleMs = 100;  // a header line, then a body byte, each 100 ms
    options.slowMs = 60000;   // 3 KB every 6 s: above the floor, below any patience
    options.lateMs = 0;
    Open(options);

    // Too slow: the window ends it long before the deadline would.
    client.SetSpeedLimits(1000, 300, 10 * 60 * 1000);
    EXPECT_FALSE(client.Get(site->CompanyUrl("a", 1)));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "");
    // Fast enough, but not done by the deadline.
    client.SetSpeedLimits(1, 10 * 60 * 1000, 500);
    EXPECT_EQ(Fetch(site->CompanyUrl("a", 2)), "");

    // A whole response arrives unasked after company 3's: company 4 still gets its own page,
    // over a fresh connection.
    client.SetSpeedLimits(0, 0, 0);
    EXPECT_NE(FindText(Fetch(site->CompanyUrl("a", 3)), "class=\"mp4\""), -1);
    ASSERT_TRUE(site->WaitForLateBytes(1, std::chrono::seconds(30)));
    const CompanyRecord fourth = GenerateCompany(KeywordSeed("a"), 4);
    EXPECT_NE(FindText(Fetch(site->CompanyUrl("a", 4)), Utf8ToSystem(fourth.address)), -1);
    std::vector<RecordedRequest> requests = site->Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_NE(requests[3].connection, requests[2].connection);
}

}  // namespace
}  // namespace velmora::site
