#include "regex/Regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "regex/Dialect.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

// Work is counted in PCRE2's match-limit steps, with no clock, so a page gives the same matches
// on every machine. The match limit counts per start position, so each start position is
// charged the limit it ran under: all of them a small one first, and a start position that
// uses it up is tried again on its own under limits kLimitGrowth times larger.
constexpr uint32_t kFirstStepLimit = 16;
constexpr uint32_t kLimitGrowth = 8;
// The most steps one start position may take: a company page's contact block takes a few
// hundred; catastrophic backtracking stops here instead of running for seconds.
constexpr uint32_t kMatchLimit = 524'288;  // kFirstStepLimit * kLimitGrowth^5
// The steps of one Create: a fixed part for the few costly start positions a real page has
// (its contact block), and a part that grows with the subject for the cheap ones, so that a
// real page of any size up to the body cap is searched to its end (the directory's pages take
// under one step a byte), while a hostile 1 MB page ends within a few tens of milliseconds,
// compiled or interpreted.
constexpr uint64_t kBudgetBaseSteps = 1'000'000;
constexpr uint64_t kBudgetStepsPerByte = 2;
// Nesting of backtracking points in one start position, each a frame on the interpreter's heap:
// real pages need a few hundred. With the heap limit it bounds the interpreter's memory; the
// JIT ignores both and is bounded by its stack below.
constexpr uint32_t kDepthLimit = 100'000;
// Backtracking memory of one match in KiB, for the interpreter when JIT is unavailable.
constexpr uint32_t kHeapLimitKiB = 16 * 1024;
// The JIT's backtracking stack: PCRE2's default of 32 KiB fails a group repeated a few
// thousand times; the cap equals the interpreter's heap limit so both accept the same pages.
constexpr size_t kJitStackStartBytes = 32 * 1024;
constexpr size_t kJitStackMaxBytes = size_t{kHeapLimitKiB} * 1024;
// Idle JIT stacks kept for reuse: the search matches on one worker and the crawl thread at
// most at once. A stack keeps the memory its deepest match touched, so few are kept.
constexpr size_t kMaxKeptJitStacks = 2;
// Stored offsets, whole matches and groups together: twice what an empty-matching pattern
// leaves over a 1 MB page; a Create that would store more ends there, as at a work bound.
constexpr size_t kMaxSpans = size_t{1} << 21;

// Compiled patterns kept for reuse: the program runs a few fixed patterns, each once per page
// on a new worker thread, and compiling one costs more than matching it over a 30 KB page.
// Patterns beyond this many push out the oldest.
constexpr std::size_t kMaxCachedPatterns = 32;

// The charging callout runs once per start position that gets past the pattern's leading
// plain characters (at most this many bytes of them). A start position that fails within them
// costs a few byte compares after PCRE2's own search for the first one, so it goes
// uncharged; the cap keeps that cost per byte of the subject small whatever the pattern.
constexpr std::string_view kChargeCallout = "(?C1)(?:";
constexpr std::size_t kMaxUnchargedPrefixBytes = 16;

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

// Index of the character after the one at `offset` in valid UTF-8.
size_t NextCharacter(std::string_view utf8, size_t offset) {
    ++offset;
    while (offset < utf8.size() && (static_cast<unsigned char>(utf8[offset]) & 0xC0) == 0x80) {
        ++offset;
    }
    return offset;
}

bool IsPlainPatternByte(char c) {
    return std::string_view("\\^$.|?*+()[]{}").find(c) == std::string_view::npos;
}

bool IsQuantifierByte(char c) {
    return std::string_view("?*+{").find(c) != std::string_view::npos;
}

// True when the translated `pattern` has an alternative outside every group, so that no part
// of it is common to all matches. In a translated pattern a class ends at its first unescaped
// "]" and the groups are balanced.
bool HasOutermostAlternative(std::string_view pattern) {
    int depth = 0;
    bool inClass = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\') {
            // An escape is skipped whole: "\cX" names a control character by any X.
            i += i + 1 < pattern.size() && pattern[i + 1] == 'c' ? 2 : 1;
        } else if (inClass) {
            inClass = c != ']';
        } else if (c == '[') {
            inClass = true;
        } else if (c == '(' || c == ')') {
            depth += c == '(' ? 1 : -1;
        } else if (c == '|' && depth == 0) {
            return true;
        }
    }
    return false;
}

// Bytes of the plain characters every match of `pattern` begins with, whole UTF-8
// characters, none of them bound to a quantifier, at most kMaxUnchargedPrefixBytes.
std::size_t UnchargedPrefixLength(std::string_view pattern) {
    if (HasOutermostAlternative(pattern)) return 0;
    std::size_t length = 0;
    std::size_t lastStart = 0;
    while (length < pattern.size() && IsPlainPatternByte(pattern[length])) {
        lastStart = length;
        length = NextCharacter(pattern, length);
        if (length > kMaxUnchargedPrefixBytes) return lastStart;
    }
    if (length < pattern.size() && IsQuantifierByte(pattern[length])) return lastStart;
    return length;
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
    const std::string_view pattern(translated);
    const std::size_t prefix = UnchargedPrefixLength(pattern);
    std::string wrapped = std::string(pattern.substr(0, prefix)) + std::string(kChargeCallout) +
                          std::string(pattern.substr(prefix)) + ")";
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
// so a compiled pattern is shared by every thread, found by the pattern as the caller wrote it;
// null when the pattern is rejected.
std::shared_ptr<const pcre2_code> Compile(const Text& pattern, bool multiline, bool caseSensitive) {
    struct Entry {
        Text pattern;
        bool multiline;
        bool caseSensitive;
        std::shared_ptr<const pcre2_code> code;
    };
    static std::mutex mutex;
    static std::deque<Entry> cache;  // oldest first
    auto matches = [&](const Entry& entry) {
        return entry.multiline == multiline && entry.caseSensitive == caseSensitive &&
               entry.pattern == pattern;
    };
    {
        std::lock_guard lock(mutex);
        auto found = std::find_if(cache.begin(), cache.end(), matches);
        if (found != cache.end()) return found->code;
    }
    const std::optional<std::string> translated =
        TranslatePattern(SystemToUtf8(pattern), multiline);
    if (!translated) return nullptr;
    std::shared_ptr<const pcre2_code> code(CompileNew(*translated, caseSensitive).release(),
                                           CodeDeleter{});
    if (!code) return nullptr;
    std::lock_guard lock(mutex);
    // Another thread may have compiled the same pattern meanwhile; either copy serves.
    if (std::find_if(cache.begin(), cache.end(), matches) == cache.end()) {
        if (cache.size() == kMaxCachedPatterns) cache.pop_front();
        cache.push_back({pattern, multiline, caseSensitive, code});
    }
    return code;
}

// Runs one compiled pattern over one subject within one Create's step budget.
class BoundedMatcher {
public:
    BoundedMatcher(const pcre2_code* code, std::string_view subject, pcre2_match_context* context,
                   pcre2_match_data* data)
        : code_(code),
          subject_(subject),
          context_(context),
          data_(data),
          stepsLeft_(kBudgetBaseSteps + kBudgetStepsPerByte * subject.size()) {
        pcre2_set_callout(context_, ChargeStart, this);
    }

    // The first match at or after `from`, as one unanchored pcre2_match finds it: its result,
    // with the offsets in the match data. A negative result other than PCRE2_ERROR_NOMATCH
    // means a bound (steps, depth, heap) ended the search.
    int Next(size_t from) {
        for (;;) {
            int rc = Run(from, kFirstStepLimit);
            if (rc != PCRE2_ERROR_MATCHLIMIT) return rc;
            // Every start position before this one was settled under the small limit.
            const size_t costly = lastStart_;
            uint32_t limit = kFirstStepLimit;
            onlyStart_ = costly;
            do {
                limit = std::min(limit * kLimitGrowth, kMatchLimit);
                rc = Run(costly, limit);
            } while (rc == PCRE2_ERROR_MATCHLIMIT && limit < kMatchLimit);
            onlyStart_.reset();
            if (rc != PCRE2_ERROR_NOMATCH || costly >= subject_.size()) return rc;
            from = NextCharacter(subject_, costly);
        }
    }

private:
    // Unanchored even when one start position is wanted: the JIT leaves PCRE2_ANCHORED at match
    // time to the interpreter. The callout ends such a run at the next start position instead.
    int Run(size_t from, uint32_t limit) {
        pcre2_set_match_limit(context_, limit);
        startCharge_ = limit;
        return pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(subject_.data()), subject_.size(),
                           from, PCRE2_NO_UTF_CHECK, data_, context_);
    }

    static int ChargeStart(pcre2_callout_block* block, void* matcher) {
        auto& self = *static_cast<BoundedMatcher*>(matcher);
        if (self.onlyStart_ && block->start_match != *self.onlyStart_) return PCRE2_ERROR_NOMATCH;
        self.lastStart_ = block->start_match;
        if (self.stepsLeft_ < self.startCharge_) return PCRE2_ERROR_CALLOUT;
        self.stepsLeft_ -= self.startCharge_;
        return 0;
    }

    const pcre2_code* code_;
    std::string_view subject_;
    pcre2_match_context* context_;
    pcre2_match_data* data_;
    uint64_t stepsLeft_;
    uint32_t startCharge_ = 0;
    size_t lastStart_ = 0;
    std::optional<size_t> onlyStart_;  // set while one start position is tried alone
};

}  // namespace

void Regex::Clear() {
    searched_ = false;
    complete_ = false;
    subject_ = {};
    groupCount_ = 0;
    matches_.clear();
}

bool Regex::Create(const Text& pattern, const Text& subject, bool caseSensitive, bool multiline,
                   bool global) {
    return CreateOnUtf8(pattern, SystemUtf8::FromSystem(subject), caseSensitive, multiline, global);
}

bool Regex::Create(const Text& pattern, const SystemUtf8& subject, bool caseSensitive,
                   bool multiline, bool global) {
    return CreateOnUtf8(pattern, subject, caseSensitive, multiline, global);
}

bool Regex::CreateOnUtf8(const Text& pattern, SystemUtf8 subject, bool caseSensitive,
                         bool multiline, bool global) {
    Clear();
    pattern_ = pattern;
    created_ = true;

    auto code = Compile(pattern, multiline, caseSensitive);
    if (!code) return false;
    const JitStackLoan jitStack;
    std::unique_ptr<pcre2_match_context, MatchContextDeleter> context(
        pcre2_match_context_create(nullptr));
    std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
        pcre2_match_data_create_from_pattern(code.get(), nullptr));
    if (!context || !data) return false;
    pcre2_set_depth_limit(context.get(), kDepthLimit);
    pcre2_set_heap_limit(context.get(), kHeapLimitKiB);
    pcre2_jit_stack_assign(context.get(), nullptr, jitStack.get());

    uint32_t groups = 0;
    pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &groups);
    subject_ = std::move(subject);
    const std::string& utf8 = subject_.utf8();
    groupCount_ = groups;
    searched_ = true;

    BoundedMatcher matcher(code.get(), utf8, context.get(), data.get());
    const PCRE2_SIZE* offsets = pcre2_get_ovector_pointer(data.get());
    size_t start = 0;
    while (start <= utf8.size()) {
        int rc = matcher.Next(start);
        if (rc == PCRE2_ERROR_NOMATCH) break;
        // A bound ends the search; the matches found before it stay.
        if (rc < 0 || matches_.size() + groups + 1 > kMaxSpans) return false;
        for (uint32_t g = 0; g <= groups; ++g) {
            size_t begin = offsets[2 * g];
            matches_.push_back(begin == PCRE2_UNSET ? Span{kUnset, kUnset}
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
    complete_ = true;
    return true;
}

Text Regex::GetPattern() const {
    return created_ ? pattern_ : Text();
}

int Regex::MatchCount() const {
    return searched_ ? static_cast<int>(matches_.size() / (groupCount_ + 1)) : 0;
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
    return std::string_view(subject_.utf8()).substr(begin, end - begin);
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
            out += Slice(spans[0].end, subject_.utf8().size());
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
    if (!complete_) return {};
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
    out += Slice(copied, subject_.utf8().size());
    return Utf8ToSystem(out);
}

}  // namespace velmora
