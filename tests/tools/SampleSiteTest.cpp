// The sample site as a server: what it records, how its connections live and end, and the
// faults it injects. Waits are on the site's own events, never on sleeps.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <ostream>
#include <string>
#include <vector>

#include "LoopbackClient.h"
#include "tools/SampleSite.h"
#include "tools/SiteContent.h"

namespace velmora::site {
namespace {

using namespace std::chrono_literals;

constexpr auto kEventTimeout = 30s;

SiteOptions SmallSite() {
    SiteOptions options;
    options.pages = 3;
    options.linksPerPage = 4;
    options.companyPageBytes = 4000;
    return options;
}

std::string CompanyPath(std::string_view keyword, int number) {
    return CompanyTarget(KeywordSeed(keyword), number);
}

std::optional<Reply> Fetch(const SampleSite& site, std::string_view target) {
    LoopbackClient client(site.Port());
    if (!client.Send(GetRequest(target))) return std::nullopt;
    return client.Receive();
}

TEST(SampleSite, RecordsEachRequestVerbatimInArrivalOrder) {
    SampleSite site(SmallSite());
    ASSERT_TRUE(site.Start()) << site.Error();
    const std::vector<std::string> profile{
        "Accept: text/html, application/xhtml+xml, */*",
        "Referer: " + site.SearchUrl("机械"),
        "Accept-Language: zh-cn",
        "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)",
        "Connection: Keep-Alive",
    };
    LoopbackClient client(site.Port());
    ASSERT_TRUE(client.Connected());
    ASSERT_TRUE(client.Send(GetRequest(
        SearchTarget("机械"), {profile[0], profile[1], profile[2], profile[3], profile[4]})));
    std::optional<Reply> listing = client.Receive();
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->status, 200);
    EXPECT_NE(listing->head.find("Connection: keep-alive\r\n"), std::string::npos);
    EXPECT_NE(listing->head.find("Content-Type: text/html; charset=utf-8\r\n"), std::string::npos);
    EXPECT_NE(listing->body.find(site.CompanyUrl("机械", 4)), std::string::npos);
    EXPECT_EQ(listing->body.find(site.CompanyUrl("机械", 5)), std::string::npos);

    ASSERT_TRUE(client.Send(GetRequest(CompanyPath("机械", 2), {"Cookie: a=1", " X-Odd :  v "})));
    std::optional<Reply> company = client.Receive();
    ASSERT_TRUE(company);
    EXPECT_EQ(company->status, 200);
    EXPECT_NE(company->body.find(GenerateCompany(KeywordSeed("机械"), 2).companyName),
              std::string::npos);

    LoopbackClient second(site.Port());
    ASSERT_TRUE(second.Send("HEAD " + SearchTarget("x", 2) + " HTTP/1.1\r\n\r\n"));
    std::optional<Reply> head = second.Receive(true);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_TRUE(head->body.empty());

    std::vector<RecordedRequest> requests = site.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].number, 1);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, SearchTarget("机械"));
    EXPECT_EQ(requests[0].version, "HTTP/1.1");
    EXPECT_EQ(requests[0].headerLines, profile);
    EXPECT_EQ(requests[0].Header("referer"), site.SearchUrl("机械"));
    EXPECT_EQ(requests[0].Header("Cookie"), std::nullopt);
    EXPECT_EQ(requests[1].number, 2);
    EXPECT_EQ(requests[1].connection, requests[0].connection);
    EXPECT_EQ(requests[1].headerLines, (std::vector<std::string>{"Cookie: a=1", " X-Odd :  v "}));
    EXPECT_EQ(requests[1].Header("x-odd"), "v");
    EXPECT_EQ(requests[2].method, "HEAD");
    EXPECT_NE(requests[2].connection, requests[0].connection);
    for (const RecordedRequest& request : requests) EXPECT_FALSE(request.fault);
}

TEST(SampleSite, ClearingForgetsRequestsButKeepsCounting) {
    SampleSite site(SmallSite());
    ASSERT_TRUE(site.Start());
    ASSERT_TRUE(Fetch(site, "/nowhere"));
    site.ClearRequests();
    EXPECT_EQ(site.RequestCount(), 0u);
    EXPECT_FALSE(site.WaitForRequests(1, 1ms));
    ASSERT_TRUE(Fetch(site, "/nowhere"));
    ASSERT_TRUE(site.WaitForRequests(1, kEventTimeout));
    EXPECT_EQ(site.Requests().at(0).number, 2);
}

TEST(SampleSite, AnswersEveryRouteWithItsPage) {
    SiteOptions options = SmallSite();
    options.noHitsKeywords = {"无货"};
    SampleSite site(options);
    ASSERT_TRUE(site.Start());
    struct Case {
        std::string target;
        int status;
        std::string contains;  // empty: anything
    } cases[] = {
        {SearchTarget("机械"), 200, "总数: 12&nbsp;&nbsp;页次: 1/3&nbsp;&nbsp;"},
        {SearchTarget("机械", 3), 200, "页次: 3/3&nbsp;&nbsp;"},
        {SearchTarget("无货"), 200, "没有找到"},
        {CompanyPath("机械", 12), 200, "class=\"mp4\""},
        {CompanyPath("机械", 0), 404, ""},
        {CompanyTarget(KeywordSeed("机械"), 1).replace(26, 1, "01"), 404, ""},
        {"/company/xyz/1.html", 404, ""},
        {"/", 404, ""},
        {"/search/index.php", 200, "总数: 12&nbsp;&nbsp;"},
    };
    for (const Case& c : cases) {
        std::optional<Reply> reply = Fetch(site, c.target);
        ASSERT_TRUE(reply) << c.target;
        EXPECT_EQ(reply->status, c.status) << c.target;
        EXPECT_NE(reply->body.find(c.contains), std::string::npos) << c.target;
    }
    std::optional<Reply> nothing = Fetch(site, SearchTarget("无货"));
    ASSERT_TRUE(nothing);
    EXPECT_EQ(nothing->body.find("总数: "), std::string::npos);
}

TEST(SampleSite, ConnectionEndsWhenTheClientAsksAndStaysOtherwise) {
    SampleSite site(SmallSite());
    ASSERT_TRUE(site.Start());
    {
        LoopbackClient client(site.Port());
        ASSERT_TRUE(client.Send(GetRequest("/", {"Connection: close"})));
        std::optional<Reply> reply = client.Receive();
        ASSERT_TRUE(reply);
        EXPECT_NE(reply->head.find("Connection: close\r\n"), std::string::npos);
        EXPECT_EQ(client.End(), ConnectionEnd::Closed);
    }
    {
        LoopbackClient client(site.Port());
        ASSERT_TRUE(client.Send("GET / HTTP/1.0\r\n\r\n"));
        ASSERT_TRUE(client.Receive());
        EXPECT_EQ(client.End(), ConnectionEnd::Closed);
    }
    {
        // Pipelined, with a request body the site must step over.
        LoopbackClient client(site.Port());
        ASSERT_TRUE(client.Send("POST /form HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello" +
                                GetRequest(SearchTarget("a", 2)) + "GET / HTTP/1.0\r\n\r\n"));
        std::optional<Reply> post = client.Receive();
        std::optional<Reply> listing = client.Receive();
        std::optional<Reply> last = client.Receive();
        ASSERT_TRUE(post && listing && last);
        EXPECT_EQ(post->status, 405);
        EXPECT_EQ(listing->status, 200);
        EXPECT_NE(listing->body.find("页次: 2/3"), std::string::npos);
        EXPECT_EQ(last->status, 404);
        EXPECT_EQ(client.End(), ConnectionEnd::Closed);
    }
}

TEST(SampleSite, RefusesMalformedAndOversizedRequests) {
    SampleSite site(SmallSite());
    ASSERT_TRUE(site.Start());
    struct Case {
        std::string request;
        int status;
        bool recorded;
    } cases[] = {
        {"GARBAGE\r\n\r\n", 400, false},
        {"GET / HTTP/2.0\r\n\r\n", 400, false},
        {"GET  / HTTP/1.1\r\n\r\n", 400, false},
        {"GET / HTTP/1.1\r\nno colon here\r\n\r\n", 400, false},
        {"GET / HTTP/1.1\r\nX: " + std::string(70 * 1024, 'a') + "\r\n\r\n", 431, false},
        {"POST / HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n", 413, true},
        {"POST / HTTP/1.1\r\nContent-Length: 5x\r\n\r\n", 400, true},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 501, true},
    };
    std::size_t recorded = 0;
    for (const Case& c : cases) {
        LoopbackClient client(site.Port());
        ASSERT_TRUE(client.Send(c.request));
        std::optional<Reply> reply = client.Receive();
        ASSERT_TRUE(reply) << c.status;
        EXPECT_EQ(reply->status, c.status);
        EXPECT_EQ(client.End(), ConnectionEnd::Closed);
        recorded += c.recorded;
        EXPECT_EQ(site.RequestCount(), recorded) << c.status;
    }
    // Many header lines are refused before they are stored.
    std::string many = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < 101; ++i) many += "X-" + std::to_string(i) + ": 1\r\n";
    LoopbackClient client(site.Port());
    ASSERT_TRUE(client.Send(many + "\r\n"));
    std::optional<Reply> reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 431);
    EXPECT_EQ(site.RequestCount(), recorded);
}

TEST(SampleSite, SetsASessionCookieOnlyForRequestsWithout) {
    SiteOptions options = SmallSite();
    options.sessionCookie = true;
    SampleSite site(options);
    ASSERT_TRUE(site.Start());
    LoopbackClient client(site.Port());
    ASSERT_TRUE(client.Send(GetRequest(SearchTarget("a"))));
    std::optional<Reply> first = client.Receive();
    ASSERT_TRUE(first);
    EXPECT_NE(first->head.find("\r\nSet-Cookie: VSESSID=s1; path=/\r\n"), std::string::npos);
    ASSERT_TRUE(client.Send(GetRequest(SearchTarget("a"), {"Cookie: VSESSID=s1"})));
    std::optional<Reply> second = client.Receive();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->head.find("Set-Cookie"), std::string::npos);
}

TEST(SampleSite, StartFailsOnAPortInUseAndWhenStartedTwice) {
    SampleSite first(SmallSite());
    ASSERT_TRUE(first.Start());
    EXPECT_FALSE(first.Start());
    SiteOptions options = SmallSite();
    options.port = first.Port();
    SampleSite second(options);
    EXPECT_FALSE(second.Start());
    EXPECT_NE(second.Error().find("bind"), std::string::npos);
    EXPECT_TRUE(first.BaseUrl().starts_with("http://127.0.0.1:"));
    using Change = void (*)(SiteOptions&);
    for (Change change : std::initializer_list<Change>{
             [](SiteOptions& o) { o.pages = -1; }, [](SiteOptions& o) { o.pages = kMaxPages + 1; },
             [](SiteOptions& o) { o.linksPerPage = kMaxLinksPerPage + 1; },
             [](SiteOptions& o) { o.latencyMs = -5; },
             [](SiteOptions& o) { o.slowMs = kMaxDelayMs + 1; },
             [](SiteOptions& o) { o.companyPageBytes = kMaxCompanyPageBytes + 1; }}) {
        SiteOptions bad = SmallSite();
        change(bad);
        SampleSite refused(bad);
        EXPECT_FALSE(refused.Start());
        EXPECT_EQ(refused.Error(), "an option is out of range");
    }
    SiteOptions widest = SmallSite();
    widest.pages = kMaxPages;
    widest.linksPerPage = kMaxLinksPerPage;
    SampleSite wide(widest);
    ASSERT_TRUE(wide.Start());
    std::optional<Reply> last = Fetch(wide, CompanyPath("x", kMaxCompanyNumber));
    std::optional<Reply> beyond = Fetch(wide, CompanyPath("x", kMaxCompanyNumber + 1));
    ASSERT_TRUE(last && beyond);
    EXPECT_EQ(last->status, 200);
    EXPECT_EQ(beyond->status, 404);
    EXPECT_EQ(first.BaseUrl(), "http://127.0.0.1:" + std::to_string(first.Port()));
}

TEST(SampleSiteFaults, EachKindStrikesOnlyTheChosenRequests) {
    SiteOptions options = SmallSite();
    options.faults = {*ParseFaultRule("500:company=2"), *ParseFaultRule("nomatch:page=0"),
                      *ParseFaultRule("nomatch:company=3"), *ParseFaultRule("reset:request=6")};
    SampleSite site(options);
    ASSERT_TRUE(site.Start());

    LoopbackClient client(site.Port());
    auto get = [&](const std::string& target) {
        EXPECT_TRUE(client.Send(GetRequest(target)));
        std::optional<Reply> reply = client.Receive();
        EXPECT_TRUE(reply) << target;
        return reply.value_or(Reply{});
    };
    Reply probe = get(SearchTarget("机械"));
    EXPECT_EQ(probe.status, 200);
    EXPECT_EQ(probe.body.find("总数: "), std::string::npos);
    EXPECT_EQ(probe.body.find("sup-name\"><a href=\""), std::string::npos);
    EXPECT_NE(get(SearchTarget("机械", 1)).body.find("总数: 12&nbsp;"), std::string::npos);
    EXPECT_EQ(get(CompanyPath("机械", 1)).status, 200);
    Reply failed = get(CompanyPath("机械", 2));
    EXPECT_EQ(failed.status, 500);
    EXPECT_EQ(failed.body.find("mp4"), std::string::npos);
    Reply changed = get(CompanyPath("机械", 3));
    EXPECT_EQ(changed.status, 200);
    EXPECT_NE(changed.body.find("mp4"), std::string::npos);
    EXPECT_EQ(changed.body.find("传真："), std::string::npos);
    ASSERT_TRUE(client.Send(GetRequest(CompanyPath("机械", 4))));
    EXPECT_FALSE(client.Receive());
    const ConnectionEnd end = client.End();

    std::vector<std::optional<FaultKind>> faults;
    for (const RecordedRequest& request : site.Requests()) faults.push_back(request.fault);
    EXPECT_EQ(faults, (std::vector<std::optional<FaultKind>>{
                          FaultKind::NoMatch, std::nullopt, std::nullopt, FaultKind::ServerError,
                          FaultKind::NoMatch, FaultKind::Reset}));
    if (!ClosingCanReset()) {
        GTEST_SKIP() << "the reset itself: closing with a zero linger ends a connection in order "
                        "on this system (Wine 8)";
    }
    EXPECT_EQ(end, ConnectionEnd::Reset);
}

TEST(SampleSiteFaults, PageVariantsReachOnlyTheirPages) {
    SiteOptions options = SmallSite();
    options.faults = {*ParseFaultRule("short:page=0"), *ParseFaultRule("nocount:page=1"),
                      *ParseFaultRule("twoblocks:company=1")};
    SampleSite site(options);
    ASSERT_TRUE(site.Start());
    auto count = [](const std::string& text, std::string_view word) {
        int n = 0;
        for (std::size_t at = text.find(word); at != std::string::npos;
             at = text.find(word, at + 1)) {
            ++n;
        }
        return n;
    };
    std::optional<Reply> probe = Fetch(site, SearchTarget("机械"));
    std::optional<Reply> first = Fetch(site, SearchTarget("机械", 1));
    std::optional<Reply> second = Fetch(site, SearchTarget("机械", 2));
    std::optional<Reply> doubled = Fetch(site, CompanyPath("机械", 1));
    std::optional<Reply> single = Fetch(site, CompanyPath("机械", 2));
    ASSERT_TRUE(probe && first && second && doubled && single);
    EXPECT_LT(probe->body.find("页次: 1/3&nbsp;"), kMarkerSearchStart);
    EXPECT_EQ(first->body.find("页次: "), std::string::npos);
    EXPECT_NE(first->body.find("总数: 12&nbsp;"), std::string::npos);
    EXPECT_GT(second->body.find("页次: 2/3&nbsp;"), kMarkerSearchStart);
    EXPECT_EQ(count(doubled->body, "<div class=\"mp4\">"), 2);
    EXPECT_EQ(count(single->body, "<div class=\"mp4\">"), 1);
}

TEST(SampleSiteFaults, RepeatedPagesStayTheSameAndFaultsStillChangeThem) {
    SiteOptions options = SmallSite();
    options.faults = {*ParseFaultRule("nomatch:request=2"), *ParseFaultRule("nomatch:request=5")};
    SampleSite site(options);
    ASSERT_TRUE(site.Start());
    LoopbackClient client(site.Port());
    std::vector<std::string> bodies;
    for (const std::string& target :
         {CompanyPath("机械", 3), CompanyPath("机械", 3), CompanyPath("机械", 3),
          SearchTarget("机械", 2), SearchTarget("机械", 2), SearchTarget("机械", 2)}) {
        ASSERT_TRUE(client.Send(GetRequest(target)));
        std::optional<Reply> reply = client.Receive();
        ASSERT_TRUE(reply) << target;
        bodies.push_back(reply->body);
    }
    EXPECT_EQ(bodies[0], bodies[2]);
    EXPECT_NE(bodies[0].find("传真："), std::string::npos);
    EXPECT_EQ(bodies[1].find("传真："), std::string::npos);
    EXPECT_EQ(bodies[3], bodies[5]);
    EXPECT_NE(bodies[3].find("sup-name\"><a href=\""), std::string::npos);
    EXPECT_EQ(bodies[4].find("sup-name\"><a href=\""), std::string::npos);
}

TEST(SampleSiteFaults, StatusFaultsStrikeEveryNthOrOnlyTheFirstRequestOfANumber) {
    const std::string page1 = SearchTarget("a", 1);
    const std::string page2 = SearchTarget("a", 2);
    const std::string company = CompanyPath("a", 3);
    const struct {
        const char* rule;
        std::vector<std::string> targets;
        std::vector<int> statuses;
    } cases[] = {
        {"500:request=every-3",
         std::vector<std::string>(7, page1),
         {200, 200, 500, 200, 200, 500, 200}},
        {"429:page=1,2:once", {page1, page1, page2, page2, page1}, {429, 200, 429, 200, 200}},
        {"500:company=3:once", {company, page1, company}, {500, 200, 200}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        SiteOptions options = SmallSite();
        options.faults = {*ParseFaultRule(c.rule)};
        SampleSite site(options);
        ASSERT_TRUE(site.Start());
        LoopbackClient client(site.Port());
        std::vector<int> statuses;
        for (const std::string& target : c.targets) {
            ASSERT_TRUE(client.Send(GetRequest(target)));
            std::optional<Reply> reply = client.Receive();
            ASSERT_TRUE(reply);
            statuses.push_back(reply->status);
        }
        EXPECT_EQ(statuses, c.statuses);
    }
}

TEST(SampleSiteFaults, SlowAnswersAndLatencyDelayButDoNotChangeThePage) {
    SiteOptions plain = SmallSite();
    SiteOptions slow = SmallSite();
    slow.faults = {*ParseFaultRule("slow")};
    slow.slowMs = 200;
    slow.latencyMs = 100;
    SampleSite reference(plain);
    SampleSite site(slow);
    ASSERT_TRUE(reference.Start());
    ASSERT_TRUE(site.Start());
    std::optional<Reply> expected = Fetch(reference, CompanyPath("机械", 5));
    auto begin = std::chrono::steady_clock::now();
    std::optional<Reply> trickled = Fetch(site, CompanyPath("机械", 5));
    auto elapsed = std::chrono::steady_clock::now() - begin;
    ASSERT_TRUE(expected && trickled);
    EXPECT_EQ(trickled->body, expected->body);
    // Only a lower bound: the waits are the site's own, whatever the machine's load.
    EXPECT_GE(elapsed, 100ms + 200ms * 9 / 10);
}

TEST(SampleSiteFaults, HeldAnswerWaitsForReleaseWhileOtherConnectionsGoOn) {
    SiteOptions options = SmallSite();
    options.faults = {*ParseFaultRule("hold:company=1")};
    options.latencyMs = 50;
    SampleSite site(options);
    ASSERT_TRUE(site.Start());
    LoopbackClient held(site.Port());
    ASSERT_TRUE(held.Send(GetRequest(CompanyPath("机械", 1))));
    std::future<std::optional<Reply>> heldReply =
        std::async(std::launch::async, [&] { return held.Receive(); });
    ASSERT_TRUE(site.WaitForRequests(1, kEventTimeout));
    std::optional<Reply> other = Fetch(site, CompanyPath("机械", 2));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 200);
    EXPECT_EQ(heldReply.wait_for(0s), std::future_status::timeout);
    site.ReleaseHeld();
    std::optional<Reply> released = heldReply.get();
    ASSERT_TRUE(released);
    EXPECT_EQ(released->status, 200);
}

TEST(SampleSiteFaults, StoppingDropsHeldAndTricklingAnswers) {
    SiteOptions options = SmallSite();
    options.faults = {*ParseFaultRule("hold:company=1"), *ParseFaultRule("slow:company=2")};
    options.slowMs = 10 * 60 * 1000;
    options.companyPageBytes = 200000;
    SampleSite site(options);
    ASSERT_TRUE(site.Start());
    LoopbackClient held(site.Port());
    LoopbackClient slow(site.Port());
    LoopbackClient idle(site.Port());
    ASSERT_TRUE(held.Send(GetRequest(CompanyPath("机械", 1))));
    ASSERT_TRUE(slow.Send(GetRequest(CompanyPath("机械", 2))));
    ASSERT_TRUE(site.WaitForRequests(2, kEventTimeout));
    site.Stop();  // returns only once every connection's thread has ended
    EXPECT_FALSE(held.Receive());
    EXPECT_FALSE(slow.Receive());
    EXPECT_NE(idle.End(), ConnectionEnd::StillOpen);
    site.Stop();
}

TEST(SampleSiteFaults, HostileAnswersCarryWhatTheyPromise) {
    SiteOptions options = SmallSite();
    options.faults = {*ParseFaultRule("trickle:request=1"), *ParseFaultRule("late:company=2"),
                      *ParseFaultRule("huge:company=3"), *ParseFaultRule("manylinks:page=1")};
    options.trickleMs = 1;
    options.hugePageBytes = 3 * 1024 * 1024;
    options.manyLinks = 5000;
    SampleSite site(options);
    SampleSite reference(SmallSite());
    ASSERT_TRUE(site.Start());
    ASSERT_TRUE(reference.Start());

    // A trickled answer is the plain one, paced (a short one: a byte each millisecond).
    std::optional<Reply> trickled = Fetch(site, "/missing");
    std::optional<Reply> plain = Fetch(reference, "/missing");
    ASSERT_TRUE(trickled && plain);
    EXPECT_EQ(trickled->head, plain->head);
    EXPECT_EQ(trickled->body, plain->body);

    // A late answer is followed, on its connection, by a whole response nobody asked for.
    LoopbackClient client(site.Port());
    ASSERT_TRUE(client.Send(GetRequest(CompanyPath("机械", 2))));
    std::optional<Reply> answer = client.Receive();
    ASSERT_TRUE(answer);
    EXPECT_NE(answer->body.find("<div class=\"mp4\">"), std::string::npos);
    ASSERT_TRUE(site.WaitForLateBytes(1, kEventTimeout));
    std::optional<Reply> stray = client.Receive();
    ASSERT_TRUE(stray);
    EXPECT_EQ(stray->status, 200);
    EXPECT_TRUE(stray->body.empty());

    std::optional<Reply> huge = Fetch(site, CompanyPath("机械", 3));
    ASSERT_TRUE(huge);
    EXPECT_GE(huge->body.size(), options.hugePageBytes);
    EXPECT_LT(huge->body.find("<div class=\"mp4\">"), 20000u);

    std::optional<Reply> many = Fetch(site, SearchTarget("机械", 1));
    ASSERT_TRUE(many);
    EXPECT_NE(many->body.find(site.CompanyUrl("机械", 5000) + "\""), std::string::npos);
    EXPECT_EQ(many->body.find(site.CompanyUrl("机械", 5001) + "\""), std::string::npos);

    std::vector<std::optional<FaultKind>> faults;
    for (const RecordedRequest& request : site.Requests()) faults.push_back(request.fault);
    EXPECT_EQ(faults,
              (std::vector<std::optional<FaultKind>>{FaultKind::Trickle, FaultKind::LateBytes,
                                                     FaultKind::Huge, FaultKind::ManyLinks}));
}

TEST(SampleSiteFaults, ARedirectSendsTheRequestUnderTheMovedPathWhichAnswersIt) {
    SiteOptions options = SmallSite();
    options.faults = {*ParseFaultRule("redirect:company=2"), *ParseFaultRule("redirect:page=1")};
    SampleSite site(options);
    SampleSite reference(SmallSite());
    ASSERT_TRUE(site.Start());
    ASSERT_TRUE(reference.Start());
    for (const std::string& target : {CompanyPath("机械", 2), SearchTarget("机械", 1)}) {
        SCOPED_TRACE(target);
        const std::optional<Reply> redirect = Fetch(site, target);
        const std::optional<Reply> moved = Fetch(site, std::string(kMovedPath) + target);
        const std::optional<Reply> plain = Fetch(reference, target);
        ASSERT_TRUE(redirect && moved && plain);
        EXPECT_EQ(redirect->status, 301);
        EXPECT_NE(redirect->head.find("\r\nLocation: /moved" + target + "\r\n"), std::string::npos);
        EXPECT_TRUE(redirect->body.empty());
        EXPECT_EQ(moved->status, 200);
        // Links name the site they are on.
        std::string expected = plain->body;
        for (std::size_t at = 0; (at = expected.find(reference.BaseUrl(), at)) != std::string::npos;
             at += site.BaseUrl().size()) {
            expected.replace(at, reference.BaseUrl().size(), site.BaseUrl());
        }
        EXPECT_EQ(moved->body, expected);
    }
    std::vector<std::optional<FaultKind>> faults;
    for (const RecordedRequest& request : site.Requests()) faults.push_back(request.fault);
    EXPECT_EQ(faults, (std::vector<std::optional<FaultKind>>{FaultKind::Redirect, std::nullopt,
                                                             FaultKind::Redirect, std::nullopt}));
    EXPECT_EQ(Fetch(site, std::string(kMovedPath) + "/elsewhere").value_or(Reply{}).status, 404);
}

struct ParseCase {
    const char* text;
    FaultKind kind;
    FaultScope scope;
    std::vector<int> covered;
    std::vector<int> spared;
};

void PrintTo(const ParseCase& c, std::ostream* out) {
    *out << '"' << c.text << '"';
}

class FaultRuleParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(FaultRuleParse, ReadsKindScopeAndNumbers) {
    const ParseCase& c = GetParam();
    std::optional<FaultRule> rule = ParseFaultRule(c.text);
    ASSERT_TRUE(rule);
    EXPECT_EQ(rule->kind, c.kind);
    EXPECT_EQ(rule->scope, c.scope);
    for (int number : c.covered) EXPECT_TRUE(rule->Covers(number)) << number;
    for (int number : c.spared) EXPECT_FALSE(rule->Covers(number)) << number;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FaultRuleParse,
    ::testing::Values(
        ParseCase{"reset", FaultKind::Reset, FaultScope::Request, {1, 2, 99}, {}},
        ParseCase{"500:company=2,5",
                  FaultKind::ServerError,
                  FaultScope::Company,
                  {2, 5},
                  {1, 3, 4, 6, 25}},
        ParseCase{"slow:request=every-4",
                  FaultKind::Slow,
                  FaultScope::Request,
                  {4, 8, 12},
                  {0, 1, 2, 3, 5, 6}},
        ParseCase{"nomatch:page=0", FaultKind::NoMatch, FaultScope::ResultPage, {0}, {1, 2}},
        ParseCase{"hold:page", FaultKind::Hold, FaultScope::ResultPage, {0, 1, 7}, {}},
        ParseCase{"nocount:page=0", FaultKind::NoPageCount, FaultScope::ResultPage, {0}, {1}},
        ParseCase{"short:page=0", FaultKind::ShortPage, FaultScope::ResultPage, {0}, {1}},
        ParseCase{"twoblocks:company=1", FaultKind::TwoBlocks, FaultScope::Company, {1}, {2}},
        ParseCase{"trickle:company=2", FaultKind::Trickle, FaultScope::Company, {2}, {1}},
        ParseCase{"endless:page=0", FaultKind::EndlessCount, FaultScope::ResultPage, {0}, {1}},
        ParseCase{"manylinks:page=1", FaultKind::ManyLinks, FaultScope::ResultPage, {1}, {2}},
        ParseCase{"huge:company", FaultKind::Huge, FaultScope::Company, {1, 9}, {}},
        ParseCase{"control", FaultKind::ControlBytes, FaultScope::Request, {1}, {}},
        ParseCase{"late:request=every-2", FaultKind::LateBytes, FaultScope::Request, {2}, {1}},
        ParseCase{"429:page=1:once", FaultKind::TooManyRequests, FaultScope::ResultPage, {1}, {2}},
        ParseCase{"redirect:company=3", FaultKind::Redirect, FaultScope::Company, {3}, {2}}),
    [](const ::testing::TestParamInfo<ParseCase>& param) {
        return "Rule" + std::to_string(param.index);
    });

TEST(FaultRuleParse, RejectsWhatItCannotRead) {
    for (const char* text :
         {"slow:", "reset:company=", "reset:company=1,,2", "reset:company=-1", "reset:company=1,",
          "reset:request=every-0", "reset:request=every-x", "crash", "500:site=1", "", "Reset",
          "500:company=1x", "500:company=99999999999", "500:once:page=1", ":once"}) {
        EXPECT_FALSE(ParseFaultRule(text)) << text;
    }
}

}  // namespace
}  // namespace velmora::site
