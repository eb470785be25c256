// Sequential GETs of a 30 KB page from a loopback keep-alive server: HttpClient (Get, then
// ReadBody, or ReadBodyUtf8 as the search reads a page) against plain libcurl with no
// conversion, sending libcurl's own header lines or the client's. Reports requests per second,
// the TCP connections each side opened, and their ratios. The whole process, server included, runs
// on one processor, so that the figures do not depend on where the scheduler puts the two ends.

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "http/HttpClient.h"
#include "http/TransferControl.h"
#include "platform/ProcessorAffinity.h"

namespace {

constexpr std::size_t kPageBytes = 30 * 1024;

// A company page's worth of mixed ASCII markup and Chinese text, in UTF-8.
std::string MakePage() {
    std::string page;
    const std::string row =
        "<tr><td>联系人：</td><td>王先生 13800000000 深圳市南山区</td></tr>\r\n";
    while (page.size() + row.size() <= kPageBytes) page += row;
    page.append(kPageBytes - page.size(), ' ');
    return page;
}

class PageServer {
public:
    PageServer() : page_(MakePage()) {
        server_.Get("/page", [this](const httplib::Request& request, httplib::Response& response) {
            {
                std::lock_guard lock(mutex_);
                clientPorts_.insert(request.remote_port);
            }
            response.set_content(page_, "text/html; charset=utf-8");
        });
        // The first bytes of a body, then nothing until Release: a transfer in flight to stop.
        server_.Get("/hold", [this](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider(
                "text/plain", [this](size_t, httplib::DataSink& sink) {
                    sink.write("first", 5);
                    std::unique_lock lock(mutex_);
                    ++heldResponses_;
                    changed_.notify_all();
                    changed_.wait(lock, [this] { return released_ >= heldResponses_; });
                    sink.done();
                    return true;
                });
        });
        server_.set_keep_alive_max_count(1000000);
        // Without it the header and body writes wait on the client's delayed ACK (~40 ms);
        // accepted sockets inherit it from the listening one.
        server_.set_socket_options([](socket_t socket) {
            int on = 1;
            setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        // Bound and listening already: connections wait in the backlog until accept runs.
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~PageServer() {
        ReleaseHeld();
        server_.stop();
        thread_.join();
    }
    std::string Url(const char* path = "/page") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    // Waits until `count` responses of "/hold" have sent their first bytes.
    void WaitForHeld(int count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return heldResponses_ >= count; });
    }
    // Lets every held response end.
    void ReleaseHeld() {
        std::lock_guard lock(mutex_);
        released_ = heldResponses_;
        changed_.notify_all();
    }
    // Each TCP connection has its own client port.
    int ConnectionsSeen() {
        std::lock_guard lock(mutex_);
        int count = static_cast<int>(clientPorts_.size());
        clientPorts_.clear();
        return count;
    }

private:
    std::string page_;
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::set<int> clientPorts_;
    std::condition_variable changed_;
    int heldResponses_ = 0;
    int released_ = 0;
};

PageServer& Server() {
    static PageServer server;
    return server;
}

// Fetches the page `state.iterations()` times through one client; `read` takes the body and
// says how many bytes it has.
template <typename Read>
void FetchThroughClient(benchmark::State& state, Read read) {
    PageServer& server = Server();
    server.ConnectionsSeen();
    velmora::HttpClient client;
    client.Open(velmora::Text(velmora::kDefaultUserAgent));
    const std::string url = server.Url();
    for (auto _ : state) {
        static_cast<void>(client.Get(url));
        const std::size_t bytes = read(client);
        if (bytes == 0) state.SkipWithError("empty page");
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["connections"] = server.ConnectionsSeen();
}

// The search's road: the page as UTF-8 the system code page holds, checked, for matching.
void BM_HttpClientGet(benchmark::State& state) {
    FetchThroughClient(
        state, [](velmora::HttpClient& client) { return client.ReadBodyUtf8().utf8().size(); });
}
BENCHMARK(BM_HttpClientGet)->MinTime(2.0)->UseRealTime();

// The same without the conversion, to tell the transport's cost from the conversion's.
void BM_HttpClientGetBytes(benchmark::State& state) {
    FetchThroughClient(state, [](velmora::HttpClient& client) { return client.ReadBody().size(); });
}
BENCHMARK(BM_HttpClientGetBytes)->MinTime(2.0)->UseRealTime();

size_t Append(char* data, size_t size, size_t count, void* sink) {
    static_cast<std::string*>(sink)->append(data, size * count);
    return size * count;
}

// Plain libcurl on one handle, sending `headers` (none: libcurl's own lines only).
void FetchThroughPlainCurl(benchmark::State& state, curl_slist* headers) {
    PageServer& server = Server();
    server.ConnectionsSeen();
    CURL* easy = curl_easy_init();
    const std::string url = server.Url();
    std::string body;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    for (auto _ : state) {
        body.clear();
        if (curl_easy_perform(easy) != CURLE_OK || body.empty()) state.SkipWithError("failed");
        benchmark::DoNotOptimize(body);
    }
    curl_easy_cleanup(easy);
    state.SetItemsProcessed(state.iterations());
    state.counters["connections"] = server.ConnectionsSeen();
}

void BM_PlainCurlGet(benchmark::State& state) {
    FetchThroughPlainCurl(state, nullptr);
}
BENCHMARK(BM_PlainCurlGet)->MinTime(2.0)->UseRealTime();

// Plain libcurl sending the header lines HttpClient sends for a GET of the page, so that the
// server parses the same request from both and the ratio is the client's own cost.
void BM_PlainCurlGetSameRequest(benchmark::State& state) {
    const std::string lines[] = {
        "Accept: " + std::string(velmora::kDefaultAccept),
        "Referer: " + Server().Url(),
        "Accept-Language: " + std::string(velmora::kDefaultAcceptLanguage),
        "User-Agent: " + std::string(velmora::kDefaultUserAgent),
        "Connection: " + std::string(velmora::kDefaultConnection),
    };
    curl_slist* headers = nullptr;
    for (const std::string& line : lines) headers = curl_slist_append(headers, line.c_str());
    FetchThroughPlainCurl(state, headers);
    curl_slist_free_all(headers);
}
BENCHMARK(BM_PlainCurlGetSameRequest)->MinTime(2.0)->UseRealTime();

// From Stop on another thread to the stopped fetch's return, with the transfer in flight.
void BM_StopLatency(benchmark::State& state) {
    PageServer& server = Server();
    auto control = std::make_shared<velmora::TransferControl>();
    velmora::HttpClient client;
    client.Open(velmora::Text(velmora::kDefaultUserAgent));
    client.SetTransferControl(control);
    const std::string url = server.Url("/hold");
    int held = 0;
    for (auto _ : state) {
        control->Reset();
        std::thread fetch([&] {
            static_cast<void>(client.Get(url));
            benchmark::DoNotOptimize(client.ReadBody());
        });
        server.WaitForHeld(++held);
        auto start = std::chrono::steady_clock::now();
        control->Stop();
        fetch.join();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        server.ReleaseHeld();
    }
}
BENCHMARK(BM_StopLatency)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

// The console report, plus the rates kept for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With repetitions the median stands for the benchmark (it is reported last).
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            auto rate = run.counters.find("items_per_second");
            if (rate != run.counters.end()) rates[run.run_name.str()] = rate->second.value;
        }
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    if (!velmora::RestrictProcessToFirstProcessor()) {
        std::fprintf(stderr, "could not bind the benchmark to one processor\n");
        return 1;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto rate = [&](const std::string& name) {
        auto found = reporter.rates.find(name + "/min_time:2.000/real_time");
        return found == reporter.rates.end() ? 0.0 : found->second;
    };
    for (const char* plain : {"BM_PlainCurlGet", "BM_PlainCurlGetSameRequest"}) {
        for (const char* client : {"BM_HttpClientGet", "BM_HttpClientGetBytes"}) {
            if (rate(client) == 0 || rate(plain) == 0) continue;
            std::printf("%s / %s requests per second: %.3f\n", client, plain,
                        rate(client) / rate(plain));
        }
    }
    benchmark::Shutdown();
    return 0;
}
