#pragma once
// A row as a lead list wants it: what the page's markup left in the cells taken out, blanks
// tidied, contact cells in the form a CRM compares. The list itself keeps its raw cells.

#include <string>
#include <string_view>

#include "results/ResultRow.h"

namespace velmora {

// One cell cleaned, UTF-8 in and out, in this order: tags removed (RemoveTags), character
// references decoded (DecodeHtmlEntities), every "mailto:" dropped (in any case); then control
// characters (U+0000..U+001F, U+007F..U+009F) and invisible ones (zero-width space and joiners,
// word joiner, byte order mark) removed, blanks (space, tab, line breaks, NBSP, full-width and
// the other Unicode spaces) collapsed to one space and trimmed. In the telephone, mobile, fax
// and e-mail cells full-width ASCII (U+FF01..U+FF5E) becomes ASCII; the e-mail cell is in
// lower case.
std::string CleanCell(std::string_view utf8, ResultColumn column);

// Every cell of a row cleaned (system code page in and out); a cell that cleaning leaves as it
// was keeps its bytes.
ResultRow CleanRow(const ResultRow& row);

}  // namespace velmora
