// velmora-sample-site: runs the sample directory site until interrupted, printing its base URL
// on standard output once it accepts connections.

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/InterruptWatcher.h"
#include "platform/ThisProcess.h"
#include "tools/SampleSite.h"

namespace {

using namespace velmora::site;

constexpr std::string_view kUsage =
    "Usage: velmora-sample-site [OPTIONS]\n"
    "Serves a sample directory site on 127.0.0.1 and prints its URL.\n"
    "\n"
    "  --port N                listen on port N (default: any free port)\n"
    "  --pages N               result pages per keyword; 0 finds nothing (default 10)\n"
    "  --links-per-page N      companies per result page (default 20)\n"
    "  --latency-ms N          wait N ms before every answer (default 0)\n"
    "  --load-latency-ms N     and N ms more for each other request being answered as it\n"
    "                          arrives: a site that slows down under load (default 0)\n"
    "  --company-page-bytes N  minimum size of a company page (default 30000)\n"
    "  --slow-ms N             how long a slow answer trickles (default 2000)\n"
    "  --trickle-ms N          a trickled answer's pace: a header line or a body byte each N ms\n"
    "                          (default 1000)\n"
    "  --many-links N          links on a many-links result page (default 100000)\n"
    "  --huge-page-bytes N     minimum size of a huge company page (default 52428800)\n"
    "  --late-ms N             stray bytes follow a late answer after N ms (default 50)\n"
    "  --no-hits KEYWORD       KEYWORD (UTF-8) finds nothing; may be repeated\n"
    "  --fault KIND[:SCOPE[=WHICH]][:once]\n"
    "                          KIND: slow (trickled body), reset, 500, 429, nomatch (changed\n"
    "                                markup), nocount (no page-count marker), short (markers\n"
    "                                before byte 10000), twoblocks (two contact blocks),\n"
    "                                hold (never answered), trickle (paced as --trickle-ms),\n"
    "                                endless (page count 99999999999), manylinks (--many-links\n"
    "                                links), huge (--huge-page-bytes), control (terminal\n"
    "                                control characters in the total and the cells), late\n"
    "                                (a stray response follows the answer), redirect (301 to\n"
    "                                the same page under /moved), 403, 503, verify (a short\n"
    "                                verification page), loop (302 to /loop and on to itself\n"
    "                                for ever), negcount (a negative page count), overwork (a\n"
    "                                company page no bounded match gets through)\n"
    "                          SCOPE: request (arrival number), company (company number),\n"
    "                                 page (page parameter; 0 = the search without one)\n"
    "                          WHICH: numbers like 2,5,9, every-N or from-N; none = all of the\n"
    "                                 scope\n"
    "                          once: only the first request for each number (then answered)\n"
    "                          e.g. --fault 500:company=3  --fault reset:request=every-7\n"
    "                          may be repeated; the first rule that applies wins\n"
    "  --session-cookie        set a session cookie on answers to requests without one\n"
    "  --retry-after VALUE     send \"Retry-After: VALUE\" (seconds or an HTTP-date) with every\n"
    "                          429 and 503 answer\n"
    "  --crawl-delay SECONDS   serve a robots.txt whose Crawl-delay for every agent is SECONDS\n"
    "  --log                   print each request on standard error: its number, when it came\n"
    "                          (ms since the start), the connections open and the requests\n"
    "                          waiting for an answer as it came; at the end the most of each\n"
    "                          at once\n"
    "  --help                  show this text\n";

struct NumericOption {
    std::string_view name;
    long long maximum;
    void (*apply)(SiteOptions& options, long long value);
};

constexpr NumericOption kNumericOptions[] = {
    {"--port", std::numeric_limits<std::uint16_t>::max(),
     [](SiteOptions& o, long long v) { o.port = static_cast<std::uint16_t>(v); }},
    {"--pages", kMaxPages, [](SiteOptions& o, long long v) { o.pages = static_cast<int>(v); }},
    {"--links-per-page", kMaxLinksPerPage,
     [](SiteOptions& o, long long v) { o.linksPerPage = static_cast<int>(v); }},
    {"--latency-ms", kMaxDelayMs,
     [](SiteOptions& o, long long v) { o.latencyMs = static_cast<int>(v); }},
    {"--load-latency-ms", kMaxDelayMs,
     [](SiteOptions& o, long long v) { o.loadLatencyMs = static_cast<int>(v); }},
    {"--slow-ms", kMaxDelayMs, [](SiteOptions& o, long long v) { o.slowMs = static_cast<int>(v); }},
    {"--company-page-bytes", static_cast<long long>(kMaxCompanyPageBytes),
     [](SiteOptions& o, long long v) { o.companyPageBytes = static_cast<std::size_t>(v); }},
    {"--trickle-ms", kMaxDelayMs,
     [](SiteOptions& o, long long v) { o.trickleMs = static_cast<int>(v); }},
    {"--many-links", kMaxManyLinks,
     [](SiteOptions& o, long long v) { o.manyLinks = static_cast<int>(v); }},
    {"--huge-page-bytes", static_cast<long long>(kMaxCompanyPageBytes),
     [](SiteOptions& o, long long v) { o.hugePageBytes = static_cast<std::size_t>(v); }},
    {"--late-ms", kMaxDelayMs, [](SiteOptions& o, long long v) { o.lateMs = static_cast<int>(v); }},
};

const NumericOption* FindNumericOption(std::string_view name) {
    for (const NumericOption& option : kNumericOptions) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

std::optional<long long> ParseCount(std::string_view text, long long maximum) {
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > maximum) {
        return std::nullopt;
    }
    return value;
}

int UsageError(std::string_view message) {
    std::cerr << "velmora-sample-site: " << message << "\n\n" << kUsage;
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    velmora::UseUtf8StandardStreams();
    // UTF-8, as keywords are, whatever the system's code page.
    const std::vector<std::string> arguments = velmora::CommandLineArguments(argc, argv);
    SiteOptions options;
    bool log = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        std::string_view option = arguments[i];
        if (option == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (option == "--log") {
            log = true;
            continue;
        }
        if (option == "--session-cookie") {
            options.sessionCookie = true;
            continue;
        }
        const NumericOption* numeric = FindNumericOption(option);
        if (!numeric && option != "--no-hits" && option != "--fault" && option != "--retry-after" &&
            option != "--crawl-delay") {
            return UsageError("unknown option " + std::string(option));
        }
        if (i + 1 >= arguments.size()) return UsageError(std::string(option) + " needs a value");
        std::string_view value = arguments[++i];
        if (numeric) {
            std::optional<long long> number = ParseCount(value, numeric->maximum);
            if (!number) return UsageError("bad value for " + std::string(option));
            numeric->apply(options, *number);
        } else if (option == "--no-hits") {
            options.noHitsKeywords.emplace_back(value);
        } else if (option == "--retry-after") {
            options.retryAfter = std::string(value);
        } else if (option == "--crawl-delay") {
            options.robotsTxt = "User-agent: *\r\nCrawl-delay: " + std::string(value) + "\r\n";
        } else {
            std::optional<FaultRule> rule = ParseFaultRule(value);
            if (!rule) return UsageError("bad fault: " + std::string(value));
            options.faults.push_back(*rule);
        }
    }
    if (log) {
        options.onRequest = [started =
                                 std::chrono::steady_clock::now()](const RecordedRequest& request) {
            const auto at =
                std::chrono::duration_cast<std::chrono::milliseconds>(request.arrived - started);
            std::string line = "#" + std::to_string(request.number) + " " +
                               std::to_string(at.count()) + "ms " + request.method + " " +
                               request.target;
            if (request.fault) line += " [" + std::string(FaultKindName(*request.fault)) + "]";
            line += " connections=" + std::to_string(request.openConnections) +
                    " in-flight=" + std::to_string(request.inFlight);
            std::fputs((line + "\n").c_str(), stderr);
        };
    }

    // Before the site's threads start, which must leave interrupts to the watcher.
    velmora::InterruptWatcher interrupts;

    SampleSite site(options);
    if (!site.Start()) {
        std::cerr << "velmora-sample-site: " << site.Error() << "\n";
        return 2;
    }
    std::cout << site.BaseUrl() << std::endl;
    std::atomic<bool> interrupted{false};
    interrupts.Start([&interrupted] {
        interrupted = true;
        interrupted.notify_one();
    });
    interrupted.wait(false);
    interrupts.Stop();
    site.Stop();
    if (log) {
        std::cerr << "at most " << site.MaxOpenConnections() << " connections open and "
                  << site.MaxRequestsInFlight() << " requests being answered at once\n";
    }
    return 0;
}
