// What one safe-list entry says about a URL: the rules that every operation
// applies to each entry it meets, in list order. They look at one entry at a
// time; which entries an operation meets is the list's business.
//
// A loaded entry may carry several type bits: the page bit hides the site
// bit, and the domain bit is tested after either.
#pragma once

#include <cstdint>

#include "safelist/url_parts.h"

namespace zelk {

enum EntryType : uint32_t { kPage = 1, kSite = 2, kDomain = 4 };

// Answers of SafeList::IsProtected.
constexpr long kNotProtected = 0;
constexpr long kProtectedByPage = 1;
constexpr long kProtectedBySite = 2;
constexpr long kProtectedByDomain = 4;
constexpr long kProtectedAsLocal = 8;
constexpr long kProtectedAsHttps = 16;

bool IsEntryType(uint32_t type);

// The code an entry of `type` made from `entry` gives `url`:
// kProtectedByPage, kProtectedBySite, kProtectedByDomain or kNotProtected.
long EntryCode(uint32_t type, const UrlView& entry, const UrlView& url);

enum class Overlap { kNone, kCovered, kReplaced };

// What adding an entry of `added_type` (one EntryType) made from `added` does
// to an existing entry: an entry of the same type that covers it makes the
// addition unnecessary; an entry of another type that overlaps it, narrower
// or wider, is replaced.
Overlap OverlapWith(uint32_t type, const UrlView& entry, uint32_t added_type,
                    const UrlView& added);

// Whether Unprotect of `url` removes the entry: the one test of its type.
bool UnprotectMatches(uint32_t type, const UrlView& entry, const UrlView& url);

// A file URL, or a host without a '.' (an empty host included).
bool IsLocal(const UrlView& url);

}  // namespace zelk
