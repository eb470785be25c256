#pragma once
// What a page's markup leaves in a cell, read as the page shows it: tags taken out and character
// references decoded, as an HTML parser does for text. UTF-8 in and out.

#include <string>
#include <string_view>

namespace velmora {

// Every character reference decoded as HTML decodes one in text: the named ones of the HTML
// standard's list (the legacy ones without ";" too, by the longest name that fits), decimal and
// hexadecimal ones with or without ";". A numeric reference to 0, to a surrogate or past
// U+10FFFF is U+FFFD; one to 0x80..0x9F is the windows-1252 character HTML reads it as.
// Anything else after "&" stays as it is.
std::string DecodeHtmlEntities(std::string_view utf8);

// Tags and comments taken out: "<" followed by a letter, "/" and a letter, "!" or "?", up to the
// ">" that ends it outside quotes. A tag that breaks a line or a block (br, p, div, li, td, ...)
// leaves a blank; any other leaves nothing. A "<" that starts no tag, or one never closed, stays.
std::string RemoveTags(std::string_view utf8);

}  // namespace velmora
