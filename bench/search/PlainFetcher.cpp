// The floor under a whole search's CPU: the requests velmora-cli makes of the sample site (the
// search URL twice, the result pages, every company page, each result page's right after it),
// through plain libcurl on one connection, with no matching, conversion or journal. Prints one line
// per company page (its size), so that run_search_bench.py counts the rows as it does the
// program's.
//
// Usage: search_plain_fetcher BASE_URL KEYWORD [--thread-per-page]
//        search_plain_fetcher --start   (libcurl set up and nothing fetched: the bare start-up)
// With --thread-per-page every company page is fetched on a thread of its own, started when the
// last one has ended, the process bound to one processor and its threads given the stack size
// velmora-cli gives its own: the threads a search starts, without the work they do.

#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/ProcessorAffinity.h"
#include "platform/ThreadStack.h"
#include "search/DirectoryPages.h"

namespace {

// The link as the company link pattern finds it, without the pattern.
constexpr std::string_view kLinkStart = "sup-name\"><a href=\"";

std::size_t Append(char* data, std::size_t size, std::size_t count, void* sink) {
    static_cast<std::string*>(sink)->append(data, size * count);
    return size * count;
}

class Fetcher {
public:
    Fetcher() : easy_(curl_easy_init()) {
        curl_easy_setopt(easy_, CURLOPT_PROXY, "");
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, Append);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &body_);
    }
    ~Fetcher() { curl_easy_cleanup(easy_); }
    Fetcher(const Fetcher&) = delete;
    Fetcher& operator=(const Fetcher&) = delete;

    const std::string& Get(const std::string& url) {
        body_.clear();
        curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
        if (curl_easy_perform(easy_) != CURLE_OK) body_.clear();
        return body_;
    }

private:
    CURL* easy_;
    std::string body_;
};

std::vector<std::string> LinksOn(const std::string& page) {
    std::vector<std::string> links;
    for (std::size_t at = page.find(kLinkStart); at != std::string::npos;
         at = page.find(kLinkStart, at)) {
        at += kLinkStart.size();
        links.push_back(page.substr(at, page.find('"', at) - at));
    }
    return links;
}

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    Fetcher fetcher;
    if (argc == 2 && std::strcmp(argv[1], "--start") == 0) return 0;
    if (argc < 3) {
        std::fprintf(stderr, "usage: search_plain_fetcher BASE_URL KEYWORD [--thread-per-page]\n");
        return 2;
    }
    const bool threadPerPage = argc > 3 && std::strcmp(argv[3], "--thread-per-page") == 0;
    if (threadPerPage &&
        !(velmora::UseThreadStackSize() && velmora::RestrictProcessToFirstProcessor())) {
        std::fprintf(stderr, "could not set up the threads as velmora-cli does\n");
        return 1;
    }
    char* keyword = curl_easy_escape(nullptr, argv[2], 0);
    const std::string search = argv[1] + std::string(velmora::kSearchPathAndQuery) + keyword;
    curl_free(keyword);

    fetcher.Get(search);
    const std::string& first = fetcher.Get(search);
    const std::string_view marker = velmora::kPageCountMarker;
    const std::size_t count = first.find(marker);
    const int pages =
        count == std::string::npos ? 0 : std::atoi(first.c_str() + count + marker.size());
    for (int page = 1; page <= pages; ++page) {
        for (const std::string& link :
             LinksOn(fetcher.Get(search + velmora::kPageParameter + std::to_string(page)))) {
            std::size_t size = 0;
            if (threadPerPage) {
                std::thread([&] { size = fetcher.Get(link).size(); }).join();
            } else {
                size = fetcher.Get(link).size();
            }
            std::printf("%zu\n", size);
        }
    }
    return 0;
}
