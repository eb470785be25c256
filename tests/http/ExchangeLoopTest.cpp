// Exchanges driven by an ExchangeLoop: each gives what Get and ReadBody give on a client of its
// own, request bytes included, several in flight share the loop's connections, and an abandoned
// one ends as a stop ends a request.

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "ClientFixture.h"
#include "http/ExchangeLoop.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

// What an exchange left on its client.
struct Outcome {
    bool answered = false;
    std::string headers;
    std::string body;
    HttpError error = HttpError::kNone;
    std::string cookies;

    bool operator==(const Outcome&) const = default;
};

Outcome Read(HttpClient& client, bool answered, int maxChunks) {
    std::string body = AsText(client.ReadBody(maxChunks));
    return {answered, client.GetResponseHeaders(), std::move(body), client.LastError(),
            client.GetCookies()};
}

// The requests `server` received, its port left out: each run has a server of its own.
std::vector<std::string> RequestsWithoutPort(const LoopbackServer& server) {
    std::vector<std::string> requests = server.Requests();
    const std::string port = ":" + std::to_string(server.Port());
    for (std::string& request : requests) {
        for (std::size_t at = request.find(port); at != std::string::npos;
             at = request.find(port)) {
            request.replace(at, port.size(), ":PORT");
        }
    }
    return requests;
}

// Runs the exchanges of `clients` on `loop` until every one has ended.
void RunAll(ExchangeLoop& loop, std::size_t exchanges) {
    for (std::size_t ended = 0; ended < exchanges;) ended += loop.Run(1000ms).size();
}

struct Get {
    const char* path;
    int maxChunks;
};

struct LoopCase {
    const char* name;
    LoopbackServer::Handler handler;
    std::vector<Get> gets;  // one after the other on one client
};

std::string Redirect(std::string_view location, std::string_view extraHeaders = {}) {
    return "HTTP/1.1 302 Found\r\nLocation: " + std::string(location) + "\r\n" +
           std::string(extraHeaders) + "Content-Length: 5\r\n\r\nmoved";
}

ScriptedReply ByIndex(std::vector<std::string> replies, int index, bool closeAfter = false) {
    const std::string& bytes = replies[std::min<std::size_t>(index, replies.size() - 1)];
    return {bytes, closeAfter ? ScriptedReply::Then::kClose : ScriptedReply::Then::kKeepOpen};
}

void PrintTo(const LoopCase& c, std::ostream* out) {
    *out << c.name;
}

class ExchangeLoopTest : public ClientTest, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(ExchangeLoopTest, GivesWhatGetAndReadBodyGive) {
    const LoopCase& c = GetParam();
    Serve(c.handler);
    std::vector<Outcome> expected;
    for (const Get& get : c.gets) {
        const bool answered = client.Get(Url(get.path));
        expected.push_back(Read(client, answered, get.maxChunks));
    }
    const std::vector<std::string> expectedRequests = RequestsWithoutPort(*server);

    server.reset();
    Serve(c.handler);
    HttpClient looped;
    looped.Open(Text(kDefaultUserAgent));
    ExchangeLoop loop;
    for (std::size_t i = 0; i < c.gets.size(); ++i) {
        loop.StartGet(looped, Url(c.gets[i].path), c.gets[i].maxChunks);
        RunAll(loop, 1);
        const bool answered = !looped.GetResponseHeaders().empty();
        EXPECT_EQ(Read(looped, answered, c.gets[i].maxChunks), expected[i]) << c.gets[i].path;
    }
    EXPECT_EQ(RequestsWithoutPort(*server), expectedRequests);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExchangeLoopTest,
    ::testing::Values(
        LoopCase{"RedirectsWithTheirCookies",
                 [](const std::string& request, int) {
                     if (request.starts_with("GET /a ")) {
                         return ScriptedReply{Redirect("/b", "Set-Cookie: k=v\r\n")};
                     }
                     if (request.starts_with("GET /b ")) return ScriptedReply{Redirect("c")};
                     return ScriptedReply{OkReply("done", "Set-Cookie: j=w\r\n")};
                 },
                 {{"/a", 0}, {"/a", 0}}},
        LoopCase{"ARedirectLoopEndsAtTheBound",
                 [](const std::string&, int) { return ScriptedReply{Redirect("/loop")}; },
                 {{"/loop", 0}}},
        LoopCase{
            "TheBodyUpToTheChunksAsked",
            [](const std::string&, int) { return ScriptedReply{OkReply(std::string(5000, 'b'))}; },
            {{"/big", 2}, {"/big", 0}}},
        LoopCase{"AGarbledKeptAliveConnectionIsAskedAgainOnANewOne",
                 [](const std::string&, int index) {
                     return ByIndex(
                         {OkReply("ok"), "SSH-2.0 nothing like HTTP\r\n\r\n", OkReply("ok")}, index,
                         index == 1);
                 },
                 {{"/first", 0}, {"/page", 0}}},
        LoopCase{"GarbledOnANewConnection",
                 [](const std::string&, int) {
                     return ScriptedReply{"SSH-2.0 nothing like HTTP\r\n\r\n",
                                          ScriptedReply::Then::kClose};
                 },
                 {{"/page", 0}}},
        LoopCase{"ABodyCutShortKeepsWhatCame",
                 [](const std::string&, int) {
                     return ScriptedReply{"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc",
                                          ScriptedReply::Then::kClose};
                 },
                 {{"/cut", 0}}}),
    [](const ::testing::TestParamInfo<LoopCase>& param) { return std::string(param.param.name); });

TEST_F(ClientTest, ExchangesInFlightTogetherShareTheLoopsConnectionsAndEndWhenAbandoned) {
    constexpr int kClients = 3;
    Serve([](const std::string& request, int) {
        if (request.starts_with("GET /held ")) {
            return ScriptedReply{"", ScriptedReply::Then::kHoldOpen};
        }
        return ScriptedReply{OkReply(request.substr(4, request.find(' ', 4) - 4))};
    });
    std::vector<HttpClient> clients(kClients);
    ExchangeLoop loop;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < kClients; ++i) {
            clients[i].Open(Text(kDefaultUserAgent));
            loop.StartGet(clients[i], Url("/" + std::to_string(i)));
        }
        RunAll(loop, kClients);
        for (int i = 0; i < kClients; ++i) {
            EXPECT_EQ(AsText(clients[i].ReadBody()), "/" + std::to_string(i));
        }
    }
    EXPECT_LE(server->ConnectionsAccepted(), kClients) << "kept-alive connections serve any";

    const std::size_t asked = server->Requests().size();
    loop.StartGet(clients[0], Url("/held"));
    while (server->Requests().size() == asked) EXPECT_TRUE(loop.Run(10ms).empty());
    loop.StartGet(clients[1], Url("/1"));
    loop.Abandon(clients[0]);
    EXPECT_EQ(clients[0].LastError(), HttpError::kStopped);
    EXPECT_TRUE(clients[0].ReadBody().empty());
    RunAll(loop, 1);
    EXPECT_EQ(AsText(clients[1].ReadBody()), "/1") << "the other goes on";
    EXPECT_EQ(loop.Running(), 0u);
    ASSERT_TRUE(clients[0].Get(Url("/0"))) << "the client serves the next request";
    EXPECT_EQ(AsText(clients[0].ReadBody()), "/0");
}

}  // namespace
}  // namespace velmora::testing
