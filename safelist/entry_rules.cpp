#include "safelist/entry_rules.h"

#include "safelist/url_compare.h"

namespace zelk {

namespace {

// Whether an entry of one type, made from `entry`, covers `url`.
bool Covers(uint32_t type, const UrlView& entry, const UrlView& url) {
  switch (type) {
    case kPage:
      return SamePage(url, entry);
    case kSite:
      return SameSite(url, entry);
    case kDomain:
      return SameDomain(url, entry);
    default:
      return false;
  }
}

// One row of the overlap rules: an entry type against the type being added.
// Two entries overlap when the wider of the two types covers.
Overlap RowOverlap(uint32_t row_type, const UrlView& entry, uint32_t added_type,
                   const UrlView& added) {
  const uint32_t wider = row_type > added_type ? row_type : added_type;
  if (!Covers(wider, entry, added)) return Overlap::kNone;
  return row_type == added_type ? Overlap::kCovered : Overlap::kReplaced;
}

}  // namespace

bool IsEntryType(uint32_t type) { return type == kPage || type == kSite || type == kDomain; }

long EntryCode(uint32_t type, const UrlView& entry, const UrlView& url) {
  if (type & kPage) {
    if (SamePage(url, entry)) return kProtectedByPage;
  } else if ((type & kSite) && SameSite(url, entry)) {
    return kProtectedBySite;
  }
  if ((type & kDomain) && SameDomain(url, entry)) return kProtectedByDomain;
  return kNotProtected;
}

Overlap OverlapWith(uint32_t type, const UrlView& entry, uint32_t added_type,
                    const UrlView& added) {
  const uint32_t first_row = (type & kPage) ? uint32_t{kPage} : (type & kSite) ? uint32_t{kSite} : 0;
  if (first_row != 0) {
    const Overlap overlap = RowOverlap(first_row, entry, added_type, added);
    if (overlap != Overlap::kNone) return overlap;
  }
  if (type & kDomain) return RowOverlap(kDomain, entry, added_type, added);
  return Overlap::kNone;
}

bool UnprotectMatches(uint32_t type, const UrlView& entry, const UrlView& url) {
  if (type & kPage) return SamePage(url, entry);
  if (type & kSite) return SameSite(url, entry);
  if (type & kDomain) return SameDomain(url, entry);
  return false;
}

bool IsLocal(const UrlView& url) {
  return url.kind == kSchemeFile || url.host.find('.') == std::string_view::npos;
}

}  // namespace zelk
