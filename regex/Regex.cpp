#include "regex/Regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>

#include "regex/Dialect.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;

// Steps per start position: real company pages need about 45 K; catastrophic backtracking
// stops here instead of running for seconds.
constexpr uint32_t kMatchLimit = 1'000'000;
// Backtracking memory of one match in KiB, for the interpreter when JIT is unavailable.
constexpr uint32_t kHeapLimitKiB = 16 * 1024;
// The JIT's backtracking stack: PCRE2's default of 32 KiB fails a group repeated a few
// thousand times; the cap equals the interpreter's heap limit so both accept the same pages.
constexpr size_t kJitStackStartBytes = 32 * 1024;
constexpr size_t kJitStackMaxBytes = size_t{kHeapLimitKiB} * 1024;
// Idle JIT stacks kept for reuse: the search matches on one worker and the crawl thread at
// most at once. A stack keeps the memory its deepest match touched, so few are kept.
constexpr size_t kMaxKeptJitStacks = 2;
// The match limit counts per start position, so a page of many near misses needs a budget
// over the whole Create; real pages take well under a millisecond.
constexpr std::chrono::milliseconds kCreateBudget{100};
// Stored offsets, whole matches and groups together: twice what an empty-matching pattern
// leaves over a 1 MB page, so the budget and not memory ends such a run.
constexpr size_t kMaxSpans = size_t{1} << 21;

// Compiled patterns kept for reuse: the program runs a few fixed patterns, each once per page
// on a new worker thread, and compiling one costs more than matching it over a 30 KB page.
// Patterns beyond this many push out the oldest.
constexpr std::size_t kMaxCachedPatterns = 32;

// The budget callout sits at the pattern's start, so it runs once per start position.
constexpr std::string_view kBudgetCalloutPrefix = "(?C1)(?:";

struct CodeDeleter {
    void operator()(const pcre2_code* code) const {
        pcre2_code_free(const_cast<pcre2_code*>(code));
    }
};
struct CompileContextDeleter {
    void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};
struct MatchContextDeleter {
    void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct MatchDataDeleter {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct JitStackDeleter {
    void operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }
};

using JitStack = std::unique_ptr<pcre2_jit_stack, JitStackDeleter>;

// A JIT stack serves one match at a time, so each Create borrows one of its own. Returned
// stacks are kept for the next Create: a worker thread lives for one page, and mapping a new
// stack for each cost more than setting up the match. Null when none can be made, and PCRE2
// then uses its small default stack.
class JitStackLoan {
public:
    JitStackLoan() {
        {
            std::lock_guard lock(PoolMutex());
            if (!Pool().empty()) {
                stack_ = std::move(Pool().back());
                Pool().pop_back();
                return;
            }
        }
        stack_.reset(pcre2_jit_stack_create(kJitStackStartBytes, kJitStackMaxBytes, nullptr));
    }
    ~JitStackLoan() {
        if (!stack_) return;
        std::lock_guard lock(PoolMutex());
        if (Pool().size() < kMaxKeptJitStacks) Pool().push_back(std::move(stack_));
    }
    JitStackLoan(const JitStackLoan&) = delete;
    JitStackLoan& operator=(const JitStackLoan&) = delete;

    pcre2_jit_stack* get() const { return stack_.get(); }

private:
    static std::mutex& PoolMutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::vector<JitStack>& Pool() {
        static std::vector<JitStack> pool;
        return pool;
    }

    JitStack stack_;
};

std::chrono::nanoseconds ThreadCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// The budget is this thread's processor time, so a Create that is merely descheduled on a
// busy machine still finishes. The cheap wall clock is read at every start position; the
// thread's processor time, a system call, only when the wall clock says the budget may be
// spent, and then the wall deadline moves on by what is left.
class WorkBudget {
public:
    WorkBudget() : cpuStart_(ThreadCpuTime()), wallDeadline_(Clock::now() + kCreateBudget) {}

    bool Spent() {
        Clock::time_point now = Clock::now();
        if (now <= wallDeadline_) return false;
        auto left = kCreateBudget - (ThreadCpuTime() - cpuStart_);
        if (left <= std::chrono::nanoseconds::zero()) return true;
        wallDeadline_ = now + left;
        return false;
    }

private:
    std::chrono::nanoseconds cpuStart_;
    Clock::time_point wallDeadline_;
};

int StopWhenSpent(pcre2_callout_block*, void* budget) {
    return static_cast<WorkBudget*>(budget)->Spent() ? PCRE2_ERROR_CALLOUT : 0;
}

std::unique_ptr<pcre2_code, CodeDeleter> CompileNew(const std::string& translated,
                                                    bool caseSensitive) {
    std::unique_ptr<pcre2_compile_context, CompileContextDeleter> context(
        pcre2_compile_context_create(nullptr));
    if (!context) return nullptr;
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_LF);
    uint32_t options = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF |
                       PCRE2_DOLLAR_ENDONLY | PCRE2_NEVER_UCP;
    if (!caseSensitive) options |= PCRE2_CASELESS;
    std::string wrapped = std::string(kBudgetCalloutPrefix) + translated + ")";
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    std::unique_ptr<pcre2_code, CodeDeleter> code(
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(wrapped.data()), wrapped.size(), options, &error,
                      &errorOffset, context.get()));
    // Without JIT pcre2_match falls back to the interpreter under the same limits.
    if (code) pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE);
    return code;
}

// PCRE2 lets any number of threads match with one compiled pattern at once, JIT code included,
// so a compiled pattern is shared by every thread; null when the pattern is rejected.
std::shared_ptr<const pcre2_code> Compile(const std::string& translated, bool caseSensitive) {
    struct Entry {
        std::string translated;
        bool caseSensitive;
        std::shared_ptr<const pcre2_code> code;
    };
    static std::mutex mutex;
    static std::deque<Entry> cache;  // oldest first
    auto matches = [&](const Entry& entry) {
        return entry.caseSensitive == caseSensitive && entry.translated == translated;
    };
    {
        std::lock_guard lock(mutex);
        auto found = std::find_if(cache.begin(), cache.end(), matches);
        if (found != cache.end()) return found->code;
    }
    std::shared_ptr<const pcre2_code> code(CompileNew(translated, caseSensitive).release(),
                                           CodeDeleter{});
    if (!code) return nullptr;
    std::lock_guard lock(mutex);
    // Another thread may have compiled the same pattern meanwhile; either copy serves.
    if (std::find_if(cache.begin(), cache.end(), matches) == cache.end()) {
        if (cache.size() == kMaxCachedPatterns) cache.pop_front();
        cache.push_back({translated, caseSensitive, code});
    }
    return code;
}

// Index of the character after the one at `offset` in valid UTF-8.
size_t NextCharacter(const std::string& utf8, size_t offset) {
    ++offset;
    while (offset < utf8.size() && (static_cast<unsigned char>(utf8[offset]) & 0xC0) == 0x80) {
        ++offset;
    }
    return offset;
}

}  // namespace

void Regex::Clear() {
    matched_ = false;
    subject_.clear();
    groupCount_ = 0;
    matches_.clear();
}

bool Regex::Create(const Text& pattern, const Text& subject, bool caseSensitive, bool multiline,
                   bool global) {
    WorkBudget budget;
    Clear();
    pattern_ = pattern;
    created_ = true;

    std::optional<std::string> translated = TranslatePattern(SystemToUtf8(pattern), multiline);
    if (!translated) return false;
    auto code = Compile(*translated, caseSensitive);
    if (!code) return false;
    const JitStackLoan jitStack;
    std::unique_ptr<pcre2_match_context, MatchContextDeleter> context(
        pcre2_match_context_create(nullptr));
    std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
        pcre2_match_data_create_from_pattern(code.get(), nullptr));
    if (!context || !data) return false;
    pcre2_set_match_limit(context.get(), kMatchLimit);
    pcre2_set_heap_limit(context.get(), kHeapLimitKiB);
    pcre2_set_callout(context.get(), StopWhenSpent, &budget);
    pcre2_jit_stack_assign(context.get(), nullptr, jitStack.get());

    uint32_t groups = 0;
    pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &groups);

    std::string utf8 = SystemToUtf8(subject);

    std::vector<Span> found;
    const PCRE2_SIZE* offsets = pcre2_get_ovector_pointer(data.get());
    size_t start = 0;
    while (start <= utf8.size()) {
        int rc = pcre2_match(code.get(), reinterpret_cast<PCRE2_SPTR>(utf8.data()), utf8.size(),
                             start, PCRE2_NO_UTF_CHECK, data.get(), context.get());
        if (rc == PCRE2_ERROR_NOMATCH) break;
        if (rc < 0) return false;  // a limit, the budget, or memory
        if (found.size() + groups + 1 > kMaxSpans) return false;
        for (uint32_t g = 0; g <= groups; ++g) {
            size_t begin = offsets[2 * g];
            found.push_back(begin == PCRE2_UNSET ? Span{kUnset, kUnset}
                                                 : Span{begin, offsets[2 * g + 1]});
        }
        if (!global) break;
        size_t end = offsets[1];
        // After an empty match the next search starts one character on, not at the same spot.
        if (end == offsets[0]) {
            if (end >= utf8.size()) break;
            end = NextCharacter(utf8, end);
        }
        start = end;
    }
    subject_ = std::move(utf8);
    groupCount_ = groups;
    matches_ = std::move(found);
    matched_ = true;
    return true;
}

Text Regex::GetPattern() const {
    return created_ ? pattern_ : Text();
}

int Regex::MatchCount() const {
    return matched_ ? static_cast<int>(matches_.size() / (groupCount_ + 1)) : 0;
}

int Regex::GroupCount() const {
    return MatchCount() > 0 ? static_cast<int>(groupCount_) : 0;
}

const Regex::Span* Regex::FindSpan(int matchIndex, int groupIndex) const {
    if (matchIndex < 1 || matchIndex > MatchCount()) return nullptr;
    if (groupIndex < 0 || static_cast<size_t>(groupIndex) > groupCount_) return nullptr;
    const Span& span = matches_[(static_cast<size_t>(matchIndex) - 1) * (groupCount_ + 1) +
                                static_cast<size_t>(groupIndex)];
    return span.begin == kUnset ? nullptr : &span;
}

std::string_view Regex::Slice(size_t begin, size_t end) const {
    return std::string_view(subject_).substr(begin, end - begin);
}

Text Regex::TextOf(const Span* span, int* position) const {
    if (position) {
        *position =
            span ? static_cast<int>(Utf8ToSystem(Slice(0, span->begin)).size()) : kNoPosition;
    }
    return span ? Utf8ToSystem(Slice(span->begin, span->end)) : Text();
}

Text Regex::GetMatch(int matchIndex, int* position) const {
    return TextOf(FindSpan(matchIndex, 0), position);
}

Text Regex::GetSubMatch(int matchIndex, int groupIndex, int* position) const {
    return TextOf(groupIndex >= 1 ? FindSpan(matchIndex, groupIndex) : nullptr, position);
}

void Regex::AppendExpansion(std::string& out, const std::string& replacement, size_t match) const {
    const Span* spans = &matches_[match * (groupCount_ + 1)];
    auto appendGroup = [&](size_t group) {
        if (spans[group].begin != kUnset) out += Slice(spans[group].begin, spans[group].end);
    };
    auto digit = [&](size_t i) {
        return i < replacement.size() && replacement[i] >= '0' && replacement[i] <= '9'
                   ? replacement[i] - '0'
                   : -1;
    };
    for (size_t i = 0; i < replacement.size(); ++i) {
        char c = replacement[i];
        if (c != '$' || i + 1 == replacement.size()) {
            out += c;
            continue;
        }
        char next = replacement[i + 1];
        if (next == '$') {
            out += '$';
            ++i;
        } else if (next == '&') {
            appendGroup(0);
            ++i;
        } else if (next == '`') {
            out += Slice(0, spans[0].begin);
            ++i;
        } else if (next == '\'') {
            out += Slice(spans[0].end, subject_.size());
            ++i;
        } else if (int first = digit(i + 1); first >= 0) {
            // Two digits when they name a group, else one digit and a literal second ("$11"
            // with two groups is group 1 and "1"); "$0" and a missing group stay literal.
            int second = digit(i + 2);
            size_t twoDigits = second >= 0 ? static_cast<size_t>(first * 10 + second) : 0;
            if (twoDigits >= 1 && twoDigits <= groupCount_) {
                appendGroup(twoDigits);
                i += 2;
            } else if (first >= 1 && static_cast<size_t>(first) <= groupCount_) {
                appendGroup(static_cast<size_t>(first));
                ++i;
            } else {
                out += '$';
            }
        } else {
            out += '$';
        }
    }
}

Text Regex::ReplaceMatches(const Text& replacement) const {
    if (!matched_) return {};
    std::string utf8Replacement = SystemToUtf8(replacement);
    std::string out;
    size_t copied = 0;
    size_t count = static_cast<size_t>(MatchCount());
    for (size_t m = 0; m < count; ++m) {
        const Span& whole = matches_[m * (groupCount_ + 1)];
        out += Slice(copied, whole.begin);
        AppendExpansion(out, utf8Replacement, m);
        copied = whole.end;
    }
    out += Slice(copied, subject_.size());
    return Utf8ToSystem(out);
}

}  // namespace velmora
