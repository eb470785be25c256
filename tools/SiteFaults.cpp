#include "tools/SiteFaults.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

namespace velmora::site {
namespace {

// Bounds a rule's list so that a command line cannot make the site hold an endless one.
constexpr std::size_t kMaxRuleNumbers = 10000;

constexpr std::array<std::pair<std::string_view, FaultKind>, 22> kKindNames{{
    {"slow", FaultKind::Slow},
    {"reset", FaultKind::Reset},
    {"500", FaultKind::ServerError},
    {"429", FaultKind::TooManyRequests},
    {"nomatch", FaultKind::NoMatch},
    {"nocount", FaultKind::NoPageCount},
    {"short", FaultKind::ShortPage},
    {"twoblocks", FaultKind::TwoBlocks},
    {"hold", FaultKind::Hold},
    {"trickle", FaultKind::Trickle},
    {"endless", FaultKind::EndlessCount},
    {"manylinks", FaultKind::ManyLinks},
    {"huge", FaultKind::Huge},
    {"control", FaultKind::ControlBytes},
    {"late", FaultKind::LateBytes},
    {"redirect", FaultKind::Redirect},
    {"403", FaultKind::Forbidden},
    {"503", FaultKind::Unavailable},
    {"verify", FaultKind::Verification},
    {"loop", FaultKind::RedirectLoop},
    {"negcount", FaultKind::NegativeCount},
    {"overwork", FaultKind::Overwork},
}};

constexpr std::array<std::pair<std::string_view, FaultScope>, 3> kScopeNames{{
    {"request", FaultScope::Request},
    {"company", FaultScope::Company},
    {"page", FaultScope::ResultPage},
}};

std::optional<int> ParseNumber(std::string_view text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
    return value;
}

template <typename T, std::size_t N>
std::optional<T> Lookup(const std::array<std::pair<std::string_view, T>, N>& names,
                        std::string_view name) {
    for (const auto& [text, value] : names) {
        if (text == name) return value;
    }
    return std::nullopt;
}

bool ParseWhich(std::string_view which, FaultRule& rule) {
    constexpr std::string_view kEvery = "every-";
    constexpr std::string_view kFrom = "from-";
    if (which.starts_with(kEvery)) {
        std::optional<int> every = ParseNumber(which.substr(kEvery.size()));
        if (!every || *every == 0) return false;
        rule.every = *every;
        return true;
    }
    if (which.starts_with(kFrom)) {
        std::optional<int> from = ParseNumber(which.substr(kFrom.size()));
        if (!from || *from == 0) return false;
        rule.from = *from;
        return true;
    }
    while (true) {
        std::size_t comma = which.find(',');
        std::optional<int> number = ParseNumber(which.substr(0, comma));
        if (!number || rule.numbers.size() == kMaxRuleNumbers) return false;
        rule.numbers.push_back(*number);
        if (comma == std::string_view::npos) return true;
        which.remove_prefix(comma + 1);
    }
}

}  // namespace

bool FaultRule::Covers(int number) const {
    if (all) return true;
    if (every > 0 && number > 0 && number % every == 0) return true;
    if (from > 0 && number >= from) return true;
    return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

std::optional<FaultRule> ParseFaultRule(std::string_view text) {
    constexpr std::string_view kOnce = ":once";
    FaultRule rule;
    if (text.ends_with(kOnce)) {
        rule.once = true;
        text.remove_suffix(kOnce.size());
    }
    std::size_t colon = text.find(':');
    std::optional<FaultKind> kind = Lookup(kKindNames, text.substr(0, colon));
    if (!kind) return std::nullopt;
    rule.kind = *kind;
    if (colon == std::string_view::npos) {
        rule.all = true;
        return rule;
    }
    std::string_view scoped = text.substr(colon + 1);
    std::size_t equals = scoped.find('=');
    std::optional<FaultScope> scope = Lookup(kScopeNames, scoped.substr(0, equals));
    if (!scope) return std::nullopt;
    rule.scope = *scope;
    if (equals == std::string_view::npos) {
        rule.all = true;
        return rule;
    }
    if (!ParseWhich(scoped.substr(equals + 1), rule)) return std::nullopt;
    return rule;
}

std::string_view FaultKindName(FaultKind kind) {
    for (const auto& [name, value] : kKindNames) {
        if (value == kind) return name;
    }
    return {};
}

}  // namespace velmora::site
