#pragma once
// The cookie jar of a client: one text, "; " followed by entries "name=value; ". Entries keep
// the order in which their names first arrived; names compare byte for byte. One jar serves
// every host; cookies never expire except by a server's "=deleted" value.

#include <cstddef>
#include <mutex>
#include <string_view>

#include "text/Text.h"

namespace velmora {

inline constexpr std::string_view kEmptyCookieJar = "; ";
// Servers refuse Cookie lines far shorter than this; it bounds a jar that a hostile server
// could otherwise grow with every response. Changes that would pass it are dropped.
inline constexpr std::size_t kMaxCookieJarBytes = std::size_t{32} << 10;

namespace cookie_jar {

// Folds the Set-Cookie lines of a response header block into the jar. Only each line's first
// name=value pair counts; a value "deleted" (in one of three letter cases) removes the entry.
// `mergeOption` is the request's own, handed on by HttpClient; no rule reads it.
void MergeSetCookies(Text& jar, std::string_view headers, int mergeOption = 0);
// Pairs separated by ";": true when an entry was added or changed.
bool AddCookies(Text& jar, std::string_view pairs);
// Names or pairs separated by ";": true when an entry was removed.
bool RemoveCookies(Text& jar, std::string_view names);
// The value of the entry whose whole name is `name`, or "name=value" withName; empty when none.
Text GetCookie(std::string_view jar, std::string_view name, bool withName);
// The Cookie line value: the jar without its first and last two bytes.
Text CookieLineValue(std::string_view jar);
// A jar from the jar's own form or the Cookie line form; the empty text gives the empty jar.
Text JarFromText(std::string_view text);

}  // namespace cookie_jar

// One jar that several clients use at once (the workers of a parallel search, each on a
// connection of its own, are one visitor to the site). Every read and change is whole under the
// jar's lock, so cookies set by two answers arriving together both count.
class SharedCookieJar {
public:
    explicit SharedCookieJar(Text jar = Text(kEmptyCookieJar)) : jar_(std::move(jar)) {}

    // Runs `use` over the jar's text under the lock and returns what it returns.
    template <typename Use>
    auto With(Use use) {
        std::lock_guard lock(mutex_);
        return use(jar_);
    }

private:
    std::mutex mutex_;
    Text jar_;
};

}  // namespace velmora
