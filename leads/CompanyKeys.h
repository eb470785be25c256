#pragma once
// When two rows are one company. Each row has keys; two rows are one company when they share
// one:
//   - the company link, when both have one;
//   - the name key (CompanyNameKey) together with one telephone or mobile number (PhoneNumbers,
//     wherever it stands, telephone or mobile cell), or with one e-mail address
//     (EmailAddresses). A row whose name key is empty has no such key.
// Keys are made from cleaned cells (CleanCell), so markup and blanks never tell rows apart.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "results/ResultRow.h"

namespace velmora {

// A cleaned company name (UTF-8) as two listings of one company write it alike: full-width ASCII
// made ASCII and in lower case; every bracketed place left out (a bracket, ASCII or full-width,
// holding only one to eight Chinese characters: "（杭州）", "(中国)"); trailing English legal
// forms left out as words (co, ltd, limited, inc, corp, llc, company, group, ...); blanks, "."
// and "," left out; then the Chinese legal forms left out from the end for as long as one is
// there (股份有限公司, 有限责任公司, 有限公司, 股份公司, 集团公司, 总公司, 公司, 集团), except in a
// branch's name (ending in 分公司), which is its own. Empty when nothing is left.
std::string CompanyNameKey(std::string_view cleanedName);

// The telephone numbers of a cleaned telephone or mobile cell, as digits alone: separators
// (blanks, "-", ".", parentheses) left out; China's country prefix (+86, 0086, and 86 before an
// eleven-digit mobile number) left out, and the trunk 0 put back before an area code written
// internationally (+86 571 → 0571); other countries' numbers kept as 00 and their digits; an
// extension left out (the digits after 转, 分机 or ext, and a last group of at most four digits
// after a whole landline: 0571-88886666-801). Numbers are told apart by any other character
// ("/", "、", ",", text). Only numbers of kMinPhoneDigits to kMaxPhoneDigits digits count.
std::vector<std::string> PhoneNumbers(std::string_view cleanedCell);
inline constexpr std::size_t kMinPhoneDigits = 7;   // a local number without its area code
inline constexpr std::size_t kMaxPhoneDigits = 17;  // "00" and E.164's longest, fifteen digits

// The e-mail addresses of a cleaned e-mail cell: each run of letters, digits and ".", "_", "%",
// "+", "-" holding one "@" between a mailbox and a domain with a dot, in lower case.
std::vector<std::string> EmailAddresses(std::string_view cleanedCell);

// The keys of a row, each once, in no particular order, as 64-bit hashes of their texts (FNV-1a,
// then splitmix64's finaliser): two keys of different texts share a hash with a chance of about
// one in 2^64. The journal keeps them and compares them with new ones, so the hash and the
// rules above change only together with a journal migration that makes the stored keys anew.
// Of a raw row (its cells cleaned here):
std::vector<std::uint64_t> CompanyKeyHashes(std::string_view link, const ResultRow& raw);
// Of a row's cells once cleaned (CleanCell, UTF-8): the same keys.
std::vector<std::uint64_t> CleanCellKeyHashes(std::string_view link, std::string_view name,
                                              std::string_view telephone, std::string_view mobile,
                                              std::string_view email);

}  // namespace velmora
