#pragma once
// What the sample site answers: the route a request target names, the fault a request suffers
// and the response it gets, whose pages are rendered once and then kept. Only tools/ includes
// it.

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "tools/SampleSite.h"
#include "tools/SiteContent.h"
#include "tools/SiteFaults.h"
#include "tools/SiteHttp.h"

namespace velmora::site {

// What a request target names.
struct Route {
    enum class Kind { Search, Company, Robots, Missing } kind = Kind::Missing;
    std::string keyword;     // Search: the decoded keyword
    int page = 0;            // Search: the page parameter, 0 when absent
    std::uint64_t seed = 0;  // Company
    int number = 0;          // Company
    bool moved = false;      // asked for under kMovedPath, where a redirect fault sent it
    bool looping = false;    // asked for under kLoopPath, where a redirect-loop fault sent it
};

// The route of a target as sent: path and query.
Route ParseRoute(std::string_view target);

class SiteAnswers {
public:
    // Both are read while requests are answered; `baseUrl`, the prefix of every company link,
    // is set before the first arrives.
    SiteAnswers(const SiteOptions& options, const std::string& baseUrl)
        : options_(options), baseUrl_(baseUrl) {}

    // The fault of the first rule that covers the request, if any. A rule that fires once per
    // number remembers the numbers it has fired for: the caller serialises the calls.
    std::optional<FaultKind> FaultFor(int requestNumber, const Route& route);
    // The answer to a recorded request, its fault included.
    Response Answer(const RecordedRequest& request, const Route& route) const;

private:
    // The page a route names for a request with this fault, rendered once and then taken from
    // the cache.
    std::string Page(const Route& route, std::optional<FaultKind> fault) const;

    const SiteOptions& options_;
    const std::string& baseUrl_;
    // (rule index, number) of the once-only faults that have fired.
    std::set<std::pair<std::size_t, int>> firedOnce_;
    // Search pages by keyword and page, company pages by seed and number; markup last.
    using PageKey = std::tuple<Route::Kind, std::string, int, std::uint64_t, int, Markup, bool>;
    mutable std::mutex cacheMutex_;
    mutable std::map<PageKey, std::string> pageCache_;
    mutable std::size_t cachedBytes_ = 0;
};

}  // namespace velmora::site
