#include "safelist/url_compare.h"

#include <cstring>

#include "platform/text.h"

namespace zelk {

namespace {

// Compares two NUL-terminated texts of known byte length, a character at a
// time. Upper-casing never changes a character's byte count, so texts of
// different lengths can be told apart at once.
bool SameTextIgnoringCase(const char* a, size_t a_length, const char* b, size_t b_length) {
  if (a_length != b_length) return false;
  while (*a != '\0' && *b != '\0') {
    const char* a_next = NextChar(a);
    const char* b_next = NextChar(b);
    const size_t unit = static_cast<size_t>(a_next - a);
    if (unit != static_cast<size_t>(b_next - b)) return false;
    if (unit == 1) {
      if (UpperChar(static_cast<unsigned char>(*a)) != UpperChar(static_cast<unsigned char>(*b))) {
        return false;
      }
    } else if (std::memcmp(a, b, unit) != 0) {
      return false;
    }
    a = a_next;
    b = b_next;
  }
  return *a == '\0' && *b == '\0';
}

bool SameKindAndPort(const ListedUrl& a, const ListedUrl& b) {
  return a.kind() == b.kind() && a.port() == b.port();
}

bool SameHost(const ListedUrl& a, const ListedUrl& b) {
  return SameTextIgnoringCase(a.host(), a.host_length(), b.host(), b.host_length());
}

}  // namespace

bool SamePage(const ListedUrl& a, const ListedUrl& b) {
  return SameSite(a, b) &&
         SameTextIgnoringCase(a.path(), a.path_length(), b.path(), b.path_length());
}

bool SameSite(const ListedUrl& a, const ListedUrl& b) {
  return SameKindAndPort(a, b) && SameHost(a, b);
}

bool SameDomain(const ListedUrl& a, const ListedUrl& b) {
  return SameKindAndPort(a, b) && SameTextIgnoringCase(a.domain().c_str(), a.domain().size(),
                                                       b.domain().c_str(), b.domain().size());
}

}  // namespace zelk
