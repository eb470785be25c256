#include "search/Pacing.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace velmora {
namespace {

using std::chrono::milliseconds;

// Latency within this share of the floor, plus kLatencyNoise, is the floor: a loaded client and
// the network add that much without the site queueing anything.
constexpr double kFloorTolerance = 1.1;
constexpr auto kLatencyNoise = std::chrono::milliseconds(5);
// More requests than this waiting at the site step the window down; fewer than kQueueLow step it
// up. Between the two it holds: a site serving one request at a time settles at two in flight,
// one served and one waiting, which keeps it busy without piling up.
constexpr double kQueueHigh = 1.0;
constexpr double kQueueLow = 0.5;
// A rate this much below the one before a step down says the step cost throughput.
constexpr double kRateLossFactor = 0.9;
// A company page under this share of the usual size, without a contact block, holds no company:
// it is a verification page.
constexpr std::size_t kVerificationShare = 4;
// The usual size needs this many real company pages before a page is judged by it.
constexpr std::size_t kMinPagesForMedian = 5;
// Signs of a block this many times in a row switch the search to one request at a time.
constexpr int kBlockSignsInARow = 2;
// A count of seconds with more digits than this is longer than any wait that is kept (and
// than an int holds); it is read as the longest.
constexpr std::size_t kMaxSecondsDigits = 9;

constexpr int kForbidden = 403;
constexpr int kTooManyRequests = 429;
constexpr int kServiceUnavailable = 503;
constexpr int kFirstServerError = 500;
constexpr int kOk = 200;

// Answers that are neither the server's failure nor a refusal show the site's usual pace.
bool UsualAnswer(int status) {
    return status > 0 && status < kFirstServerError && status != kForbidden &&
           status != kTooManyRequests;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

std::optional<int> Number(std::string_view digits) {
    int value = 0;
    if (!AllDigits(digits)) return std::nullopt;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    while (!text.empty()) {
        const std::size_t start = text.find_first_not_of(' ');
        if (start == std::string_view::npos) break;
        text.remove_prefix(start);
        const std::size_t end = text.find(' ');
        words.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    }
    return words;
}

std::optional<unsigned> MonthOf(std::string_view name) {
    static constexpr std::array<std::string_view, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (kMonths[i] == name) return static_cast<unsigned>(i + 1);
    }
    return std::nullopt;
}

// "HH:MM:SS" as a time of day.
std::optional<std::chrono::seconds> TimeOfDay(std::string_view text) {
    constexpr int kHours = 24;
    constexpr int kSixty = 60;
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') return std::nullopt;
    const auto hours = Number(text.substr(0, 2));
    const auto minutes = Number(text.substr(3, 2));
    const auto seconds = Number(text.substr(6, 2));
    // 60 seconds is a leap second, which an HTTP-date may carry.
    if (!hours || !minutes || !seconds || *hours >= kHours || *minutes >= kSixty ||
        *seconds > kSixty) {
        return std::nullopt;
    }
    return std::chrono::hours(*hours) + std::chrono::minutes(*minutes) +
           std::chrono::seconds(*seconds);
}

std::optional<std::chrono::system_clock::time_point> DateOf(int year, std::string_view month,
                                                            std::string_view day,
                                                            std::string_view time) {
    const auto monthNumber = MonthOf(month);
    const auto dayNumber = Number(day);
    const auto sinceMidnight = TimeOfDay(time);
    if (!monthNumber || !dayNumber || !sinceMidnight) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(*monthNumber),
                                           std::chrono::day(static_cast<unsigned>(*dayNumber))};
    if (!date.ok()) return std::nullopt;
    return std::chrono::sys_days(date) + *sinceMidnight;
}

// The three forms of an HTTP-date: "Sun, 06 Nov 1994 08:49:37 GMT", the obsolete
// "Sunday, 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994".
std::optional<std::chrono::system_clock::time_point> ParseHttpDate(std::string_view text) {
    // Two-digit years of the obsolete form below this are of this century, as RFC 9110 reads
    // them for any date within 50 years.
    constexpr int kCenturyPivot = 70;
    const std::vector<std::string_view> words = Words(text);
    if (words.size() == 6 && words[0].ends_with(',') && words[5] == "GMT") {
        const auto year = Number(words[3]);
        if (!year || words[3].size() != 4 || words[1].size() != 2) return std::nullopt;
        return DateOf(*year, words[2], words[1], words[4]);
    }
    if (words.size() == 4 && words[0].ends_with(',') && words[3] == "GMT") {
        const std::string_view date = words[1];
        if (date.size() != 9 || date[2] != '-' || date[6] != '-') return std::nullopt;
        const auto year = Number(date.substr(7, 2));
        if (!year) return std::nullopt;
        return DateOf(*year + (*year < kCenturyPivot ? 2000 : 1900), date.substr(3, 3),
                      date.substr(0, 2), words[2]);
    }
    if (words.size() == 5 && !words[0].ends_with(',')) {
        const auto year = Number(words[4]);
        if (!year || words[4].size() != 4 || words[2].size() > 2) return std::nullopt;
        return DateOf(*year, words[1], words[2], words[3]);
    }
    return std::nullopt;
}

}  // namespace

SitePacing::SitePacing(const PacingRules& rules, std::uint32_t seed)
    : rules_(rules), random_(seed) {
    rules_.workers = std::clamp(rules_.workers, kSerialWorkers, kMaxParallelWorkers);
}

PacingClock::time_point SitePacing::IntervalEnd() const {
    const auto jittered = std::chrono::duration_cast<PacingClock::duration>(
        std::chrono::duration<double, PacingClock::period>(static_cast<double>(delay_.count()) *
                                                           jitterOfLastStart_));
    return *intervalFrom_ + jittered;
}

std::optional<PacingClock::time_point> SitePacing::NextStart() const {
    if (inFlight_ >= window_) return std::nullopt;
    PacingClock::time_point at = holdUntil_;
    if (lastStart_) at = std::max({at, IntervalEnd(), *lastStart_ + rules_.crawlDelay});
    return at;
}

void SitePacing::Started(PacingClock::time_point now) {
    ++inFlight_;
    // The next interval runs from when this start was due, up to one delay back, rather than
    // from when it came: a start that waited for a slot does not put off the ones after it, so
    // that starts keep the delay's rate. Not across a hold, which the interval follows.
    const PacingClock::time_point due = intervalFrom_ ? IntervalEnd() : now;
    intervalFrom_ = std::clamp(due, std::max(now - delay_, holdUntil_), now);
    lastStart_ = now;
    jitterOfLastStart_ = jitter_(random_);
}

void SitePacing::Abandoned() {
    inFlight_ = std::max(0, inFlight_ - 1);
}

Judgement SitePacing::Answered(const SiteAnswer& answer) {
    Abandoned();
    Judgement judgement;
    const int status = answer.status;
    if (status != 0) {
        refusalsInARow_ =
            status == kForbidden || status == kTooManyRequests ? refusalsInARow_ + 1 : 0;
    }
    if (status == kTooManyRequests || status == kServiceUnavailable) {
        judgement.page = answer.askedAgain ? PageVerdict::kRefused : PageVerdict::kAskAgain;
        judgement.event = PacingEvent::kRetryAfter;
        Hold(answer.answeredAt +
             std::min(answer.retryAfter.value_or(rules_.defaultRetryAfter), rules_.maxRetryAfter));
        window_ = std::max(1, window_ / 2);
        lastCut_ = answer.answeredAt;
        rateBeforeCut_.reset();
    } else if (status == kForbidden) {
        judgement.page = PageVerdict::kRefused;
    } else if (answer.notAListing) {
        judgement.page = PageVerdict::kVerification;
        ++verificationPagesInARow_;
    } else if (answer.companyPage && status == kOk) {
        const std::optional<std::size_t> usual = MedianPageBytes();
        if (answer.contactBlock) {
            NotePageBytes(answer.bytes);
            verificationPagesInARow_ = 0;
        } else if (usual && answer.bytes * kVerificationShare < *usual) {
            judgement.page = PageVerdict::kVerification;
            ++verificationPagesInARow_;
        } else {
            verificationPagesInARow_ = 0;
        }
    }
    if (status != 0) Learn(answer, UsualAnswer(status));

    const bool refused = refusalsInARow_ >= kBlockSignsInARow;
    if (refused || verificationPagesInARow_ >= kBlockSignsInARow) {
        judgement.event =
            refused ? PacingEvent::kBlockedRefusals : PacingEvent::kBlockedVerification;
        refusalsInARow_ = 0;
        verificationPagesInARow_ = 0;
        serial_ = true;
        window_ = kSerialWorkers;
        Hold(answer.answeredAt + rules_.blockPause);
    }
    return judgement;
}

void SitePacing::Learn(const SiteAnswer& answer, bool usualAnswer) {
    const PacingClock::duration latency = std::max<PacingClock::duration>(
        answer.answeredAt - answer.sentAt, PacingClock::duration::zero());
    const PacingClock::duration target = latency / Target();
    PacingClock::duration delay = std::max(target, (delay_ + target) / 2);
    // The first answer is the only word the site has given on its pace yet.
    if (!delayLearned_) delay = target;
    delay = std::min<PacingClock::duration>(delay, rules_.maxDelay);
    // An error comes fast and must never speed the pace up.
    if (usualAnswer || delay > delay_ || !delayLearned_) delay_ = delay;
    delayLearned_ = true;
    if (usualAnswer) FollowQueue(answer, latency);
}

void SitePacing::FollowQueue(const SiteAnswer& answer, PacingClock::duration latency) {
    using Seconds = std::chrono::duration<double>;
    if (!floorLatency_ || latency < *floorLatency_) floorLatency_ = latency;
    // Answers to requests sent before the last cut were slowed by what the cut answered.
    if (answer.sentAt < lastCut_) return;
    const double seconds = std::max(Seconds(latency).count(), Seconds(kLatencyNoise).count());
    const int concurrency = answer.inFlight > 0 ? answer.inFlight : window_;
    const double rate = concurrency / seconds;
    if (rateBeforeCut_) {
        const bool rateFell = rate < *rateBeforeCut_ * kRateLossFactor;
        rateBeforeCut_.reset();
        if (rateFell) {
            floorLatency_ = latency;
            window_ = std::min(Target(), window_ + 1);
            return;
        }
    }
    const double atFloor =
        Seconds(*floorLatency_).count() * kFloorTolerance + Seconds(kLatencyNoise).count();
    const double waiting = concurrency * std::max(0.0, seconds - atFloor) / seconds;
    if (waiting > kQueueHigh && window_ > kSerialWorkers) {
        rateBeforeCut_ = rate;
        --window_;
        lastCut_ = answer.answeredAt;
    } else if (waiting < kQueueLow && concurrency >= window_) {
        // Only a full window shows that the site takes it without queueing: answers to
        // requests sent fewer at a time (before the tasks were there to fill it, or before the
        // last step up) say nothing of one more.
        window_ = std::min(Target(), window_ + 1);
    }
}

void SitePacing::Hold(PacingClock::time_point until) {
    holdUntil_ = std::max(holdUntil_, until);
}

std::optional<PacingClock::time_point> SitePacing::HoldEnd(PacingClock::time_point now) const {
    if (holdUntil_ <= now) return std::nullopt;
    return holdUntil_;
}

void SitePacing::NotePageBytes(std::size_t bytes) {
    if (lowerSizes_.empty() || bytes <= lowerSizes_.top()) {
        lowerSizes_.push(bytes);
    } else {
        upperSizes_.push(bytes);
    }
    if (lowerSizes_.size() > upperSizes_.size() + 1) {
        upperSizes_.push(lowerSizes_.top());
        lowerSizes_.pop();
    } else if (upperSizes_.size() > lowerSizes_.size()) {
        lowerSizes_.push(upperSizes_.top());
        upperSizes_.pop();
    }
}

std::optional<std::size_t> SitePacing::MedianPageBytes() const {
    if (lowerSizes_.size() + upperSizes_.size() < kMinPagesForMedian) return std::nullopt;
    return lowerSizes_.top();
}

std::optional<milliseconds> ParseRetryAfter(std::string_view value,
                                            std::chrono::system_clock::time_point now) {
    value = Trim(value);
    if (AllDigits(value)) {
        if (value.size() > kMaxSecondsDigits) return milliseconds::max();
        return std::chrono::duration_cast<milliseconds>(std::chrono::seconds(*Number(value)));
    }
    const auto date = ParseHttpDate(value);
    if (!date) return std::nullopt;
    if (*date <= now) return milliseconds::zero();
    return std::chrono::ceil<milliseconds>(*date - now);
}

std::optional<milliseconds> CrawlDelayForEveryAgent(std::string_view robots) {
    bool inGroupForAll = false;
    bool lastWasAgent = false;
    while (!robots.empty()) {
        const std::size_t end = robots.find('\n');
        std::string_view line = robots.substr(0, end);
        robots.remove_prefix(end == std::string_view::npos ? robots.size() : end + 1);
        line = Trim(line.substr(0, line.find('#')));
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string key(Trim(line.substr(0, colon)));
        std::transform(key.begin(), key.end(), key.begin(),
                       [](char c) { return static_cast<char>(std::tolower(c)); });
        const std::string_view value = Trim(line.substr(colon + 1));
        if (key == "user-agent") {
            // Agent lines one after another name one group; a rule between them ends it.
            if (!lastWasAgent) inGroupForAll = false;
            inGroupForAll = inGroupForAll || value == "*";
            lastWasAgent = true;
            continue;
        }
        lastWasAgent = false;
        if (key != "crawl-delay" || !inGroupForAll) continue;
        // Seconds, with a fraction perhaps: "10", "0.5".
        const std::size_t point = value.find('.');
        const std::string_view wholeDigits = value.substr(0, point);
        if (AllDigits(wholeDigits) && wholeDigits.size() > kMaxSecondsDigits) return kMaxCrawlDelay;
        const auto whole = Number(wholeDigits);
        const std::string_view fraction =
            point == std::string_view::npos ? std::string_view() : value.substr(point + 1);
        if (!whole || (point != std::string_view::npos && !AllDigits(fraction))) continue;
        if (*whole >= kMaxCrawlDelay.count() / 1000) return kMaxCrawlDelay;
        int thousandths = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            thousandths = thousandths * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
        }
        return milliseconds(*whole * 1000 + thousandths);
    }
    return std::nullopt;
}

}  // namespace velmora
