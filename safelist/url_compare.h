// The three ways a safe-list entry can cover a URL. Both sides are views of
// listed URLs (one trailing path separator already dropped, domain derived).
//
// Kinds and ports compare as numbers. Host, path and domain texts compare with
// the one case-insensitive comparison (EqualsIgnoringCase: the ANSI code
// page's upper-casing of single-byte characters, a double-byte character as
// one unit that must match byte for byte). Scheme text, user name, password
// and extra are never compared, so "http://a.test" and "HTTP://A.TEST/?q" are
// the same page, and two unknown schemes are the same kind.
#pragma once

#include "safelist/url_parts.h"

namespace zelk {

// Same kind, host, port and path.
//   "http://a.test/x" vs "http://A.TEST/x/?q=1" -> true
//   "http://a.test/x" vs "http://a.test:81/x"   -> false
bool SamePage(const UrlView& a, const UrlView& b);

// Same kind, host and port.
//   "http://a.test/x" vs "http://a.test/y"      -> true
//   "http://a.test/" vs "https://a.test/"       -> false
bool SameSite(const UrlView& a, const UrlView& b);

// Same kind, derived domain and port. Domains must be equal, not suffixes.
//   "http://w.alpha.test/" vs "http://x.y.alpha.test/"     -> true
//   "http://alpha.test/" vs "http://alpha.test.example/"  -> false
bool SameDomain(const UrlView& a, const UrlView& b);

}  // namespace zelk
