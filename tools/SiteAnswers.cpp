// Requests routed and answered: which page a target names, which fault a request suffers, and
// the status and body it gets, with the pages kept once rendered.

#include "tools/SiteAnswers.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace velmora::site {
namespace {

// Pages are generated from their request alone, so they are kept once rendered, up to this
// many bytes: a whole search of 10 pages x 20 companies of 30 KB is about 6.5 MB.
constexpr std::size_t kMaxCachedPageBytes = 64 * 1024 * 1024;

// Leading decimal digits, capped at kMaxCompanyNumber + 1 so that any huge value is out of
// range for pages and companies alike.
int LeadingNumber(std::string_view text) {
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = std::min<long long>(value * 10 + (c - '0'), kMaxCompanyNumber + 1LL);
    }
    return static_cast<int>(value);
}

Markup MarkupFor(std::optional<FaultKind> fault) {
    if (fault == FaultKind::NoMatch) return Markup::Changed;
    if (fault == FaultKind::NoPageCount) return Markup::WithoutPageCount;
    if (fault == FaultKind::ShortPage) return Markup::Short;
    if (fault == FaultKind::TwoBlocks) return Markup::TwoBlocks;
    if (fault == FaultKind::EndlessCount) return Markup::EndlessCount;
    if (fault == FaultKind::ManyLinks) return Markup::ManyLinks;
    if (fault == FaultKind::ControlBytes) return Markup::ControlBytes;
    if (fault == FaultKind::NegativeCount) return Markup::NegativeCount;
    if (fault == FaultKind::Overwork) return Markup::Overwork;
    return Markup::Regular;
}

}  // namespace

Route ParseRoute(std::string_view target) {
    constexpr std::string_view kRobotsPath = "/robots.txt";
    Route route;
    if (target == kRobotsPath) {
        route.kind = Route::Kind::Robots;
        return route;
    }
    for (auto [prefix, flag] : {std::pair{kMovedPath, &route.moved}, {kLoopPath, &route.looping}}) {
        if (target.starts_with(prefix) && target.substr(prefix.size()).starts_with('/')) {
            target.remove_prefix(prefix.size());
            *flag = true;
        }
    }
    std::size_t question = target.find('?');
    std::string_view path = target.substr(0, question);
    std::string_view query =
        question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
    if (path == kSearchPath) {
        route.kind = Route::Kind::Search;
        while (!query.empty()) {
            std::size_t amp = query.find('&');
            std::string_view pair = query.substr(0, amp);
            if (pair.starts_with("terms=")) route.keyword = PercentDecode(pair.substr(6));
            if (pair.starts_with("p=")) route.page = LeadingNumber(pair.substr(2));
            query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        }
        return route;
    }
    if (!path.starts_with(kCompanyPath)) return route;
    std::string_view rest = path.substr(kCompanyPath.size());
    std::size_t slash = rest.find('/');
    constexpr std::string_view kSuffix = ".html";
    if (slash != 16 || !rest.ends_with(kSuffix)) return route;
    std::uint64_t seed = 0;
    auto [end, error] = std::from_chars(rest.data(), rest.data() + 16, seed, 16);
    std::string_view number = rest.substr(17, rest.size() - 17 - kSuffix.size());
    int value = LeadingNumber(number);
    if (error != std::errc() || end != rest.data() + 16 || number.empty() ||
        std::to_string(value) != number || value < 1 || value > kMaxCompanyNumber) {
        return route;
    }
    route.kind = Route::Kind::Company;
    route.seed = seed;
    route.number = value;
    return route;
}

std::optional<FaultKind> SiteAnswers::FaultFor(int requestNumber, const Route& route) {
    if (route.looping) return FaultKind::RedirectLoop;
    for (std::size_t index = 0; index < options_.faults.size(); ++index) {
        const FaultRule& rule = options_.faults[index];
        int number = 0;
        switch (rule.scope) {
            case FaultScope::Request:
                number = requestNumber;
                break;
            case FaultScope::Company:
                if (route.kind != Route::Kind::Company) continue;
                number = route.number;
                break;
            case FaultScope::ResultPage:
                if (route.kind != Route::Kind::Search) continue;
                number = route.page;
                break;
        }
        if (!rule.Covers(number)) continue;
        // What a redirect sent under kMovedPath is answered, or it would be sent on forever.
        if (rule.kind == FaultKind::Redirect && route.moved) continue;
        if (rule.once && !firedOnce_.emplace(index, number).second) continue;
        return rule.kind;
    }
    return std::nullopt;
}

Response SiteAnswers::Answer(const RecordedRequest& request, const Route& route) const {
    static constexpr std::pair<FaultKind, int> kErrorFaults[] = {{FaultKind::ServerError, 500},
                                                                 {FaultKind::TooManyRequests, 429},
                                                                 {FaultKind::Forbidden, 403},
                                                                 {FaultKind::Unavailable, 503}};
    for (const auto& [fault, status] : kErrorFaults) {
        if (request.fault == fault) {
            return {status, ReasonOf(status), RenderServerErrorPage(status, ReasonOf(status))};
        }
    }
    if (request.fault == FaultKind::Redirect) return {301, ReasonOf(301), {}};
    if (request.fault == FaultKind::RedirectLoop) return {302, ReasonOf(302), {}};
    if (request.fault == FaultKind::Verification) return {200, "OK", RenderVerificationPage()};
    if (request.method != "GET" && request.method != "HEAD") {
        return {405, ReasonOf(405), RenderNotFoundPage()};
    }
    if (route.kind == Route::Kind::Robots && !options_.robotsTxt.empty()) {
        return {200, "OK", options_.robotsTxt};
    }
    if (route.kind == Route::Kind::Missing || route.kind == Route::Kind::Robots) {
        return {404, "Not Found", RenderNotFoundPage()};
    }
    return {200, "OK", Page(route, request.fault)};
}

std::string SiteAnswers::Page(const Route& route, std::optional<FaultKind> fault) const {
    const int page = route.page == 0 ? 1 : route.page;
    const Markup markup = MarkupFor(fault);
    const bool huge = route.kind == Route::Kind::Company && fault == FaultKind::Huge;
    const PageKey key{route.kind, route.keyword, page, route.seed, route.number, markup, huge};
    {
        std::lock_guard lock(cacheMutex_);
        auto found = pageCache_.find(key);
        if (found != pageCache_.end()) return found->second;
    }
    std::string rendered;
    if (route.kind == Route::Kind::Search) {
        bool noHits = std::find(options_.noHitsKeywords.begin(), options_.noHitsKeywords.end(),
                                route.keyword) != options_.noHitsKeywords.end();
        ResultPageParams params;
        params.keyword = route.keyword;
        params.page = page;
        params.pages = noHits ? 0 : options_.pages;
        params.linksPerPage =
            markup == Markup::ManyLinks ? options_.manyLinks : options_.linksPerPage;
        params.baseUrl = baseUrl_;
        params.markup = markup;
        rendered = RenderResultPage(params);
    } else {
        CompanyPageParams params;
        params.seed = route.seed;
        params.number = route.number;
        params.minimumBytes = huge ? options_.hugePageBytes : options_.companyPageBytes;
        params.markup = markup;
        rendered = RenderCompanyPage(params);
    }
    std::lock_guard lock(cacheMutex_);
    if (cachedBytes_ + rendered.size() <= kMaxCachedPageBytes &&
        pageCache_.emplace(key, rendered).second) {
        cachedBytes_ += rendered.size();
    }
    return rendered;
}

}  // namespace velmora::site
