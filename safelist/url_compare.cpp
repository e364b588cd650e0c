#include "safelist/url_compare.h"

#include "platform/text.h"

namespace zelk {

namespace {

bool SameText(std::string_view a, std::string_view b) {
  return EqualsIgnoringCase(a.data(), a.size(), b.data(), b.size());
}

bool SameKindAndPort(const UrlView& a, const UrlView& b) {
  return a.kind == b.kind && a.port == b.port;
}

}  // namespace

bool SamePage(const UrlView& a, const UrlView& b) {
  return SameSite(a, b) && SameText(a.path, b.path);
}

bool SameSite(const UrlView& a, const UrlView& b) {
  return SameKindAndPort(a, b) && SameText(a.host, b.host);
}

bool SameDomain(const UrlView& a, const UrlView& b) {
  return SameKindAndPort(a, b) && SameText(a.domain, b.domain);
}

}  // namespace zelk
