// libFuzzer target for URL decomposition. Beyond "no crash" it checks the
// record's invariants: every part within its capacity, each length equal to
// the length of its text, the same text decomposing to the same record twice
// (also into a record that held another URL before), a failure leaving the
// reset state, and the listed form only trimming the path and taking its
// domain from the end of the host.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "safelist/url_parts.h"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "url_parts invariant broken: %s\n", what);
  std::abort();
}

void RequirePart(const char* text, size_t length, size_t capacity, const char* what) {
  Require(length <= capacity, what);
  Require(std::strlen(text) == length, what);
}

void RequireWellFormed(const zelk::UrlParts& parts) {
  RequirePart(parts.scheme(), parts.scheme_length(), zelk::kSchemeCapacity, "scheme");
  RequirePart(parts.host(), parts.host_length(), zelk::kHostCapacity, "host");
  RequirePart(parts.user_name(), parts.user_name_length(), zelk::kUserNameCapacity, "user name");
  RequirePart(parts.password(), parts.password_length(), zelk::kPasswordCapacity, "password");
  RequirePart(parts.path(), parts.path_length(), zelk::kPathCapacity, "path");
  RequirePart(parts.extra(), parts.extra_length(), zelk::kExtraCapacity, "extra");
  Require(parts.kind() >= zelk::kSchemeUnknown && parts.kind() <= zelk::kSchemeSocks, "kind");
}

void RequireReset(const zelk::UrlParts& parts) {
  Require(parts.scheme_length() == 0 && parts.host_length() == 0 &&
              parts.user_name_length() == 0 && parts.password_length() == 0 &&
              parts.path_length() == 0 && parts.extra_length() == 0,
          "failure leaves every part empty");
  Require(parts.port() == 0 && parts.kind() == zelk::kSchemeUnknown,
          "failure leaves port 0 and kind unknown");
}

bool SamePart(const char* a, size_t a_length, const char* b, size_t b_length) {
  return a_length == b_length && std::memcmp(a, b, a_length) == 0;
}

bool SameRecord(const zelk::UrlParts& a, const zelk::UrlParts& b) {
  return SamePart(a.scheme(), a.scheme_length(), b.scheme(), b.scheme_length()) &&
         SamePart(a.host(), a.host_length(), b.host(), b.host_length()) &&
         SamePart(a.user_name(), a.user_name_length(), b.user_name(), b.user_name_length()) &&
         SamePart(a.password(), a.password_length(), b.password(), b.password_length()) &&
         SamePart(a.path(), a.path_length(), b.path(), b.path_length()) &&
         SamePart(a.extra(), a.extra_length(), b.extra(), b.extra_length()) &&
         a.port() == b.port() && a.kind() == b.kind();
}

void RequireListedForm(const zelk::UrlParts& plain, const zelk::ListedUrl& listed) {
  const size_t plain_path = plain.path_length();
  const size_t listed_path = listed.path_length();
  Require(listed_path == plain_path || listed_path + 1 == plain_path,
          "listed path drops at most one byte");
  Require(std::memcmp(plain.path(), listed.path(), listed_path) == 0, "listed path is a prefix");
  const std::string& domain = listed.domain();
  Require(domain.size() <= listed.host_length(), "domain no longer than host");
  Require(std::memcmp(listed.host() + listed.host_length() - domain.size(), domain.data(),
                      domain.size()) == 0,
          "domain ends the host");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Decompose reads NUL-terminated text: the input up to its first NUL.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const char* url = text.c_str();

  zelk::UrlParts first;
  const bool decomposed = first.Decompose(url);
  RequireWellFormed(first);
  if (!decomposed) RequireReset(first);

  zelk::UrlParts second;
  Require(second.Decompose("ftp://user:pw@stale.test:99/stale?x"), "seed record decomposes");
  Require(second.Decompose(url) == decomposed, "same result twice");
  Require(SameRecord(first, second), "same record twice");

  zelk::ListedUrl listed;
  Require(listed.DecomposeListed(url) == decomposed, "listed result matches plain");
  RequireWellFormed(listed);
  if (decomposed) {
    RequireListedForm(first, listed);
  } else {
    RequireReset(listed);
    Require(listed.domain().empty(), "failed listed form keeps the empty domain");
  }
  return 0;
}
