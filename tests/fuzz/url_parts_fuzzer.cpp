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

// The lead bytes of code page 932, for inputs that ask for a double-byte code page.
bool IsShiftJisLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc); }

// Whether `offset` starts a character of `text` (is not a trail byte).
bool StartsCharacter(const std::string& text, size_t offset, zelk::LeadBytePredicate is_lead) {
  size_t position = 0;
  while (position < offset) {
    position += is_lead != nullptr && is_lead(static_cast<unsigned char>(text[position])) &&
                        position + 1 < text.size() ? 2 : 1;
  }
  return position == offset;
}

// A part is the run of the text at its offset, starting on a character.
void RequireRunOfText(const std::string& text, size_t offset, const char* part, size_t length,
                      zelk::LeadBytePredicate is_lead, const char* what) {
  if (length == 0) return;
  Require(offset + length <= text.size() && std::memcmp(text.data() + offset, part, length) == 0,
          what);
  Require(StartsCharacter(text, offset, is_lead), "a part starts on a whole character");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks the code page: odd, double-byte (932); even, single-byte.
  if (size == 0) return 0;
  const zelk::LeadBytePredicate is_lead = (data[0] & 1) != 0 ? IsShiftJisLeadByte : nullptr;
  // Decompose reads NUL-terminated text: the input up to its first NUL.
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string text(input.c_str());
  zelk::UrlParts first;
  const bool decomposed = first.Decompose(text.c_str(), is_lead);
  const std::string record = Describe(first);
  Require(decomposed || record == "||||||0|-1", "failure leaves the reset state");
  zelk::UrlParts second;
  Require(second.Decompose("ftp://user:pw@stale.test:99/stale?x", is_lead) &&
              second.Decompose(text.c_str(), is_lead) == decomposed && Describe(second) == record,
          "same record twice, also in a record that held another URL");

  zelk::ListedUrl listed;
  RequireRunOfText(text, first.host_offset(), first.host(), first.host_length(), is_lead,
                   "the host is the run of text at its offset");
  RequireRunOfText(text, first.path_offset(), first.path(), first.path_length(), is_lead,
                   "the path is the run of text at its offset");
  Require(listed.DecomposeListed(text.c_str(), is_lead) == decomposed,
          "listed result matches plain");
  const size_t path = listed.path_length();
  Require(Describe(listed) == record || (path + 1 == first.path_length() &&
                                         std::memcmp(first.path(), listed.path(), path) == 0),
          "listed path drops at most its last byte");
  const std::string host(listed.host(), listed.host_length());
  const std::string domain(listed.domain());
  Require(domain.size() <= host.size() && host.compare(host.size() - domain.size(),
                                                       domain.size(), domain) == 0,
          "domain ends the host");
  Require(StartsCharacter(host, host.size() - domain.size(), is_lead),
          "the domain starts on a whole character");
  return 0;
}
