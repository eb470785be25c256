// The exact bytes a request puts on the wire: the standard header profile, caller-placed lines,
// the Cookie and Content-Length lines, verbs, credentials and the proxy.

#include <cstdlib>

#include "ClientFixture.h"
#include "http/TransferControl.h"
#include "tests/ScopedVariable.h"

namespace velmora::testing {
namespace {

class RequestHeadersTest : public ClientTest {
protected:
    void SetUp() override {
        ClientTest::SetUp();
        ServeOk();
    }
    // Runs a GET of `path` and returns the request the server received.
    std::string GetAndCapture(std::string_view path) {
        std::size_t index = server->Requests().size();
        EXPECT_TRUE(client.Get(Url(path)));
        EXPECT_EQ(client.ReadBodyTextUtf8(), "ok");
        return server->WaitForRequest(index);
    }
};

TEST_F(RequestHeadersTest, FreshClientGetSendsFiveStandardLinesWithItsOwnUrlAsReferer) {
    EXPECT_EQ(GetAndCapture("/page?q=1"),
              Request("GET /page?q=1 HTTP/1.1", StandardGetLines(Url("/page?q=1"))));
}

TEST_F(RequestHeadersTest, CookieLineComesLastAndOnlyWhenTheJarHoldsCookies) {
    EXPECT_EQ(GetAndCapture("/a").find("Cookie"), std::string::npos);
    client.SetCookies("a=1; b=2");
    EXPECT_EQ(GetAndCapture("/b"), Request("GET /b HTTP/1.1", StandardGetLines(Url("/b")) +
                                                                  Lines({"Cookie: a=1; b=2"})));
}

TEST_F(RequestHeadersTest, PostSendsContentTypeFifthAndContentLengthAfterTheCookieLine) {
    client.SetCookies("s=1");
    Bytes body = {'o', 'l', 'd'};
    ASSERT_TRUE(client.Post(Url("/form"), Text("x=1&y"), body));
    EXPECT_EQ(AsText(body), "x=1&y");
    EXPECT_EQ(server->WaitForRequest(0),
              Request("POST /form HTTP/1.1",
                      Lines({"Accept: text/html, application/xhtml+xml, */*",
                             "Referer: " + Url("/form"), "Accept-Language: zh-cn",
                             "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)",
                             "Content-Type: application/x-www-form-urlencoded",
                             "Connection: Keep-Alive", "Cookie: s=1", "Content-Length: 5"})) +
                  "x=1&y");
}

TEST_F(RequestHeadersTest, CallerPlacedLinesComeFirstAndGoWithTheNextRequestOnly) {
    client.SetHeader("X-Trace", "7");
    client.SetAccept("text/plain");
    client.SetUserAgent("Agent/2");
    client.SetContentType("text/xml");
    client.SetReferer("http://referer.example/");
    client.SetForgedClientIp("10.0.0.9");
    EXPECT_EQ(GetAndCapture("/one"),
              Request("GET /one HTTP/1.1",
                      Lines({"X-Trace: 7", "Accept: text/plain", "User-Agent: Agent/2",
                             "Content-Type: text/xml", "Referer: http://referer.example/",
                             "X-Forwarded-For: 10.0.0.9", "CLIENT_IP: 10.0.0.9", "VIA: 10.0.0.9",
                             "REMOTE_ADDR: 10.0.0.9", "Accept-Language: zh-cn",
                             "Connection: Keep-Alive"})));
    // The lines are gone; the values set by the setters stay as the standard ones.
    EXPECT_EQ(GetAndCapture("/two"),
              Request("GET /two HTTP/1.1",
                      Lines({"Accept: text/plain", "Referer: http://referer.example/",
                             "Accept-Language: zh-cn", "User-Agent: Agent/2",
                             "Connection: Keep-Alive"})));
}

TEST_F(RequestHeadersTest, ForgedClientIpWithAnEmptyAddressRemovesTheFourLines) {
    client.SetForgedClientIp("10.0.0.9");
    client.SetHeader("X-Keep", "1");
    client.SetForgedClientIp("");
    EXPECT_EQ(GetAndCapture("/"),
              Request("GET / HTTP/1.1", Lines({"X-Keep: 1"}) + StandardGetLines(Url("/"))));
}

TEST_F(RequestHeadersTest, EveryFormOfAHeaderNameMakesOneLineWithColonAndBlank) {
    for (const char* name : {"Accept", "Accept:", "Accept: "}) {
        SCOPED_TRACE(name);
        client.SetHeader(name, "a/b");
        std::string request = GetAndCapture("/");
        EXPECT_NE(request.find("\r\nAccept: a/b\r\n"), std::string::npos);
        EXPECT_EQ(request.find("Accept: text/html"), std::string::npos);
    }
}

TEST_F(RequestHeadersTest, SetHeaderReplacesAValueInPlaceKeepingTheNameAsFirstWritten) {
    client.SetHeader("x-token", "1");
    client.SetHeader("X-Other", "o");
    client.SetHeader("X-TOKEN", "2");
    client.SetHeader("Accept-Language", "en");
    EXPECT_EQ(
        GetAndCapture("/"),
        Request("GET / HTTP/1.1",
                Lines({"x-token: 2", "X-Other: o", "Accept-Language: en",
                       "Accept: text/html, application/xhtml+xml, */*", "Referer: " + Url("/"),
                       "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)",
                       "Connection: Keep-Alive"})));
}

TEST_F(RequestHeadersTest, CookieHeaderGoesToTheJarInsteadOfTheBlock) {
    client.SetHeader("Cookie", "s=9; t=8");
    client.SetHeader("Cookie", "");
    EXPECT_EQ(client.GetCookies(), "s=9; t=8");
    EXPECT_EQ(GetAndCapture("/"),
              Request("GET / HTTP/1.1", StandardGetLines(Url("/")) + Lines({"Cookie: s=9; t=8"})));
}

TEST_F(RequestHeadersTest, RemovingAnEmptyValuedLineLeavesTheNextLine) {
    client.SetHeader("X-Empty", "");
    client.SetHeader("X-Next", "n");
    client.SetHeader("X-Last", "");
    client.RemoveHeader("X-Empty");
    client.RemoveHeader("X-Absent");
    // An empty value goes out without the blank after the colon.
    EXPECT_EQ(GetAndCapture("/"), Request("GET / HTTP/1.1", Lines({"X-Next: n", "X-Last:"}) +
                                                                StandardGetLines(Url("/"))));
}

TEST_F(RequestHeadersTest, RemovedStandardHeaderIsMissingFromTheNextRequestOnly) {
    client.RemoveHeader("User-Agent");
    std::string first = GetAndCapture("/1");
    std::string second = GetAndCapture("/2");
    EXPECT_EQ(first.find("User-Agent"), std::string::npos);
    EXPECT_EQ(second, Request("GET /2 HTTP/1.1", StandardGetLines(Url("/2"))));
}

TEST_F(RequestHeadersTest, SetUserAgentWithoutValueRestoresTheDefault) {
    client.SetUserAgent("Agent/1");
    GetAndCapture("/1");
    client.SetUserAgent();
    std::string request = GetAndCapture("/2");
    const std::string defaultAgent =
        "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
    EXPECT_EQ(request, Request("GET /2 HTTP/1.1",
                               Lines({defaultAgent, "Accept: text/html, application/xhtml+xml, */*",
                                      "Referer: " + Url("/2"), "Accept-Language: zh-cn",
                                      "Connection: Keep-Alive"})));
}

TEST_F(RequestHeadersTest, RefererFixedByValueThenBackToThePreviousAndOwnUrl) {
    auto refererOf = [](const std::string& request) {
        std::size_t start = request.find("Referer: ") + 9;
        return request.substr(start, request.find("\r\n", start) - start);
    };
    GetAndCapture("/1");
    client.SetReferer("http://fixed.example/");
    EXPECT_EQ(refererOf(GetAndCapture("/2")), "http://fixed.example/");
    EXPECT_EQ(refererOf(GetAndCapture("/3")), "http://fixed.example/");
    client.SetReferer();
    EXPECT_EQ(refererOf(GetAndCapture("/4")), Url("/3"));
    EXPECT_EQ(refererOf(GetAndCapture("/5")), Url("/5"));
}

TEST_F(RequestHeadersTest, WithoutAutoHeadersOnlyHostAndTheCallersLinesGoOut) {
    client.SetAutoHeaders(false);
    client.SetHeader("X-Only", "1");
    EXPECT_EQ(GetAndCapture("/bare"), Request("GET /bare HTTP/1.1", Lines({"X-Only: 1"})));
    EXPECT_EQ(GetAndCapture("/bare2"), Request("GET /bare2 HTTP/1.1", ""));
}

TEST_F(RequestHeadersTest, VerbsAreTrimmedAndUpperCasedAndOnlyPostCarriesABody) {
    ASSERT_TRUE(client.OpenRequest(" get ", Url("/v")));
    ASSERT_TRUE(client.SendText("ignored"));
    EXPECT_EQ(server->WaitForRequest(0), Request("GET /v HTTP/1.1", StandardGetLines(Url("/v"))));

    ASSERT_TRUE(client.OpenRequest("options", Url("/o")));
    ASSERT_TRUE(client.Send({}));
    EXPECT_EQ(server->WaitForRequest(1),
              Request("OPTIONS /o HTTP/1.1", StandardGetLines(Url("/o"))));

    ASSERT_TRUE(client.Head(Url("/h")));
    EXPECT_EQ(server->WaitForRequest(2), Request("HEAD /h HTTP/1.1", StandardGetLines(Url("/h"))));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "");

    EXPECT_FALSE(client.OpenRequest("GE T", Url("/x")));
    EXPECT_FALSE(client.Send({}));
}

// One client's requests of every kind in turn: none carries anything of the kind before it (a
// POST's body, a HEAD's want of a body).
TEST_F(RequestHeadersTest, EachKindOfRequestAfterAnotherIsSentAsOnAFreshClient) {
    Bytes body;
    ASSERT_TRUE(client.Post(Url("/p"), Text("a=1"), body));
    EXPECT_EQ(GetAndCapture("/g"), Request("GET /g HTTP/1.1", StandardGetLines(Url("/g"))));
    ASSERT_TRUE(client.Head(Url("/h")));
    EXPECT_EQ(GetAndCapture("/g2"), Request("GET /g2 HTTP/1.1", StandardGetLines(Url("/g2"))));
    ASSERT_TRUE(client.Post(Url("/p2"), Text("bb"), body));
    EXPECT_TRUE(server->WaitForRequest(4).ends_with("Content-Length: 2\r\n\r\nbb"));
}

TEST_F(RequestHeadersTest, SendingAnOpenedRequestAgainRepeatsIt) {
    ASSERT_TRUE(client.OpenRequest("GET", Url("/twice")));
    ASSERT_TRUE(client.Send({}));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "ok");
    ASSERT_TRUE(client.Send({}));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "ok");
    const std::string expected = Request("GET /twice HTTP/1.1", StandardGetLines(Url("/twice")));
    EXPECT_EQ(server->WaitForRequest(0), expected);
    EXPECT_EQ(server->WaitForRequest(1), expected);
}

TEST_F(RequestHeadersTest, LineBreaksInAUrlNeverStartAHeaderLine) {
    std::string request = GetAndCapture("/a b\r\nX-Evil: 1");
    EXPECT_EQ(request.rfind("GET /a%20b%0D%0AX-Evil:%201 HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(request.find("\r\nX-Evil"), std::string::npos);
    EXPECT_NE(request.find("\r\nReferer: " + Url("/a b  X-Evil: 1") + "\r\n"), std::string::npos);
}

TEST_F(RequestHeadersTest, LineBreaksInCookiesNeverStartAHeaderLine) {
    client.SetHeader("Cookie", "a=1\r\nX-One: 1");
    client.AddCookies("b=2\nX-Two: 2");
    EXPECT_EQ(GetAndCapture("/"), Request("GET / HTTP/1.1", StandardGetLines(Url("/")) +
                                                                Lines({"Cookie: a=1  X-One: 1; "
                                                                       "b=2 X-Two: 2"})));
    client.SetCookies("c=3\r\nX-Three: 3");
    EXPECT_EQ(GetAndCapture("/").find("\nX-"), std::string::npos);
}

TEST_F(RequestHeadersTest, EnvironmentProxyIsIgnoredAndSetProxyIsObeyed) {
    std::string direct;
    {
        const ScopedVariable lower("http_proxy", "http://127.0.0.1:1");
        const ScopedVariable upper("HTTP_PROXY", "http://127.0.0.1:1");
        direct = GetAndCapture("/direct");
    }
    EXPECT_EQ(direct.rfind("GET /direct HTTP/1.1\r\n", 0), 0u);

    client.SetProxy(Url(""));
    ASSERT_TRUE(client.Get("http://directory.invalid/p"));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "ok");
    EXPECT_EQ(server->WaitForRequest(1).rfind("GET http://directory.invalid:80/p HTTP/1.1\r\n", 0),
              0u);
}

// A server (or proxy) that lets a request through only with the given credential line.
LoopbackServer::Handler Challenging(std::string credentialLine, std::string challenge) {
    return [credentialLine, challenge](const std::string& request, int) {
        if (request.find("\r\n" + credentialLine + "\r\n") == std::string::npos) {
            return ScriptedReply{challenge + "\r\nContent-Length: 4\r\n\r\ndeny"};
        }
        return ScriptedReply{OkReply("welcome")};
    };
}

TEST_F(RequestHeadersTest, CredentialsOfTheOpenRequestAnswerAChallenge) {
    Serve(Challenging("Authorization: Basic dTpw",
                      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\""));
    EXPECT_FALSE(client.SetCredentials("u", "p"));
    ASSERT_TRUE(client.OpenRequest("GET", Url("/private")));
    EXPECT_TRUE(client.SetCredentials("u"));
    EXPECT_TRUE(client.SetOption(kOptionPassword, ToBytes("p")));
    ASSERT_TRUE(client.Send({}));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "welcome");
    EXPECT_EQ(client.GetResponseHeader("content-length"), "7");
    // The next request opens a connection of its own, without them.
    ASSERT_TRUE(client.Get(Url("/private")));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "deny");
}

TEST_F(RequestHeadersTest, ProxyCredentialsAnswerTheProxysChallenge) {
    Serve(Challenging("Proxy-Authorization: Basic cHU6cHA=",
                      "HTTP/1.1 407 Proxy Authentication Required\r\n"
                      "Proxy-Authenticate: Basic realm=\"p\""));
    client.SetProxy(Url(""));
    ASSERT_TRUE(client.OpenRequest("GET", "http://directory.invalid/"));
    client.SetProxy(Url(""), Text("pu"), Text("pp"));
    ASSERT_TRUE(client.Send({}));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "welcome");
}

TEST_F(RequestHeadersTest, OptionsMapToTheTransportAndUnknownOnesAreRefused) {
    EXPECT_FALSE(client.SetOption(12345, ToBytes(1)));
    EXPECT_FALSE(client.SetOption(kOptionHttpDecoding, ToBytes(std::int64_t{1})));
    EXPECT_FALSE(client.SetOption(kOptionUserName, ToBytes("u")));  // no request open
    EXPECT_TRUE(client.SetOption(kOptionConnectTimeout, ToBytes(5000)));
    EXPECT_TRUE(client.SetOption(kOptionMaxConnsPerServer, ToBytes(4)));
    EXPECT_TRUE(client.SetOption(kOptionHttpDecoding, ToBytes(1)));
    EXPECT_NE(GetAndCapture("/").find("\r\nAccept-Encoding: gzip, deflate\r\n"), std::string::npos);
    EXPECT_TRUE(client.SetOption(kOptionHttpDecoding, ToBytes(0)));
    EXPECT_EQ(GetAndCapture("/").find("Accept-Encoding"), std::string::npos);
}

TEST_F(RequestHeadersTest, ClosedOrNeverOpenedClientSendsNothing) {
    HttpClient unopened;
    EXPECT_FALSE(unopened.Get(Url("/")));
    client.Close();
    EXPECT_FALSE(client.Get(Url("/")));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "");
    client.Reopen();
    EXPECT_EQ(GetAndCapture("/again"),
              Request("GET /again HTTP/1.1", StandardGetLines(Url("/again"))));
    EXPECT_EQ(server->Requests().size(), 1u);
}

}  // namespace
}  // namespace velmora::testing
