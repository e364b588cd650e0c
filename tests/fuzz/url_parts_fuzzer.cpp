// libFuzzer target for URL decomposition: beyond "no crash", each Require's invariant.
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

// The record as "scheme|host|user|password|path|extra|port|kind", checking each part.
std::string Describe(const zelk::UrlParts& p) {
  std::string out;
  const auto add = [&out](const char* part, size_t length, size_t capacity) {
    Require(length <= capacity, "part within its capacity");
    Require(std::strlen(part) == length, "length equals strlen");
    out.append(part, length) += '|';
  };
  add(p.scheme(), p.scheme_length(), zelk::kSchemeCapacity);
  add(p.host(), p.host_length(), zelk::kHostCapacity);
  add(p.user_name(), p.user_name_length(), zelk::kUserNameCapacity);
  add(p.password(), p.password_length(), zelk::kPasswordCapacity);
  add(p.path(), p.path_length(), zelk::kPathCapacity);
  add(p.extra(), p.extra_length(), zelk::kExtraCapacity);
  Require(p.kind() >= zelk::kSchemeUnknown && p.kind() <= zelk::kSchemeSocks, "kind");
  return out + std::to_string(p.port()) + '|' + std::to_string(p.kind());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Decompose reads NUL-terminated text: the input up to its first NUL.
  const std::string text(reinterpret_cast<const char*>(data), size);
  zelk::UrlParts first;
  const bool decomposed = first.Decompose(text.c_str());
  const std::string record = Describe(first);
  Require(decomposed || record == "||||||0|-1", "failure leaves the reset state");
  zelk::UrlParts second;
  Require(second.Decompose("ftp://user:pw@stale.test:99/stale?x") &&
              second.Decompose(text.c_str()) == decomposed && Describe(second) == record,
          "same record twice, also in a record that held another URL");

  zelk::ListedUrl listed;
  Require(listed.DecomposeListed(text.c_str()) == decomposed, "listed result matches plain");
  const size_t path = listed.path_length();
  Require(Describe(listed) == record || (path + 1 == first.path_length() &&
                                         std::memcmp(first.path(), listed.path(), path) == 0),
          "listed path drops at most its last byte");
  const std::string host(listed.host(), listed.host_length());
  const std::string& domain = listed.domain();
  Require(domain.size() <= host.size() && host.compare(host.size() - domain.size(),
                                                       domain.size(), domain) == 0,
          "domain ends the host");
  return 0;
}
