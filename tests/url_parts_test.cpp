// URL decomposition: one table row per URL. Pure code: builds natively too.
#include "safelist/url_parts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace zelk {
namespace {

// A failed decomposition: every part empty, kind unknown, port 0.
const char kFails[] = "fails |-1||||||0";

// Lead bytes of code page 932, whatever the code page of the test process.
bool IsShiftJisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc); }

// Decomposes `text` into "scheme|kind|host|user|password|path|extra|port", with
// "fails " in front when Decompose returns false; checks each length and capacity.
std::string Decomposed(UrlParts* parts, const std::string& text,
                       LeadBytePredicate is_lead = nullptr) {
  std::string out = parts->Decompose(text.c_str(), is_lead) ? "" : "fails ";
  const auto add = [&out](const char* part, size_t length, size_t capacity) {
    EXPECT_EQ(std::strlen(part), length);
    EXPECT_LE(length, capacity);
    out.append(part, length) += '|';
  };
  add(parts->scheme(), parts->scheme_length(), kSchemeCapacity);
  out += std::to_string(parts->kind()) + '|';
  add(parts->host(), parts->host_length(), kHostCapacity);
  add(parts->user_name(), parts->user_name_length(), kUserNameCapacity);
  add(parts->password(), parts->password_length(), kPasswordCapacity);
  add(parts->path(), parts->path_length(), kPathCapacity);
  add(parts->extra(), parts->extra_length(), kExtraCapacity);
  return out + std::to_string(parts->port());
}

std::string Filled(const std::string& prefix, size_t n, char fill, const std::string& suffix) {
  return prefix + std::string(n, fill) + suffix;
}

TEST(UrlPartsTest, DecomposesTableOfUrls) {
  // expected: scheme|kind|host|user|password|path|extra|port
  const struct { std::string input; const char* expected; } rows[] = {
      {"HTTP://A.Test/x", "HTTP|2|A.Test|||/x||80"},
      {"http://", "http|2||||||80"},
      {"alpha.test:81/x", "alpha.test|-1|81|||/x||0"},
      {"ftp://alpha.test/", "ftp|0|alpha.test|||/||21"},
      {"HtTpS://a.test", "HtTpS|3|a.test|||||443"},
      {"SOCKS://s.test", "SOCKS|7|s.test|||||1080"},
      {"http://a.test:/p", "http|2|a.test|||/p||0"},  // an empty port text is 0
      {"http://a.test:70000/", "http|2|a.test|||/||4464"},  // read like atoi, low 16 bits
      {"http://a.test:-1/", "http|2|a.test|||/||65535"},
      {"http://a.test: \t+82x/", "http|2|a.test|||/||82"},
      {"http://a.test:81?x/y", "http|2|a.test|||/y||81"},  // port text ends at '/'
      {Filled("http://h:", 127, '0', "8/"), "http|2|h|||/||8"},
      {Filled("http://h:", 128, '0', "8/"), kFails},
      {"http://u:p@alpha.test:8080/x", "http|2|alpha.test|u|p|/x||8080"},
      {"http://:@alpha.test", "http|2|alpha.test|||||80"},
      {"http://a.test:81@b.test/", "http|2|b.test|a.test|81|/||80"},
      {"u@http://x", "http|2|x|u||||80"},
      {"http://:pw@alpha.test/", kFails},  // a password needs a user name
      {"http://u@v@alpha.test", kFails},   {"http://u@v:q@alpha.test", kFails},
      // '#' and '?' end a path, '?' a host; backslashes are ordinary characters
      {"http://alpha.test#f", "http|2|alpha.test#f|||||80"},
      {"http://a.test/x#y?z", "http|2|a.test|||/x|#y?z|80"},
      {"http://a.test/p@q:r", "http|2|a.test|||/p@q:r||80"},
      {"http:?q", "http|2|||||?q|80"},
      {"http:/p/q", "http|2||||/p/q||80"},
      {"http:\\\\a.test\\x/y", "http|2|\\\\a.test\\x|||/y||80"},
      {"http://a.test/d\\e\\", "http|2|a.test|||/d\\e\\||80"},
      // file: everything is path; mailto: no "//"; file, news, mailto: no port
      {"file:///C:/dir/a.htm#x?y", "file|4||||/C:/dir/a.htm#x?y||0"},
      {"file://server/share", "file|4||||server/share||0"},
      {"FILE:C:\\x:81", "FILE|4||||C:\\x:81||0"},
      {"mailto:u@alpha.test:25", "mailto|6|alpha.test|u||||0"},
      {"MailTo://u@alpha.test", kFails},
      {"news://alpha.test:119/g", "news|5|alpha.test|||/g||0"},
      {"news:comp.lang", "news|5|comp.lang|||||0"},
      {"about:blank", "about|-1|blank|||||0"},
      {"https2://a.test:9/", "https2|-1|a.test|||/||9"},
      {"", kFails},                        {"alpha.test/x", kFails},
  };
  for (const auto& row : rows) {
    UrlParts parts;  // holding other parts first, so stale text would show
    ASSERT_TRUE(parts.Decompose("ftp://old:pw@stale.test:99/old/path?old#extra", nullptr));
    EXPECT_EQ(row.expected, Decomposed(&parts, row.input)) << row.input.substr(0, 60);
  }
  EXPECT_FALSE(UrlParts().Decompose(nullptr, nullptr));
  EXPECT_EQ(0, DefaultPort(-2) | DefaultPort(kSchemeSocks + 1));
}

TEST(UrlPartsTest, EveryCapacityHoldsItsLimitAndRejectsOneMore) {
  const struct { const char* prefix; size_t n; const char* suffix;  // n fill bytes fit
                 size_t (UrlParts::*length)() const; size_t capacity; } rows[] = {
      {"", 32, "://h", &UrlParts::scheme_length, kSchemeCapacity},
      {"http://", 256, "", &UrlParts::host_length, kHostCapacity},
      {"http://", 256, ":81/", &UrlParts::host_length, kHostCapacity},
      {"http://", 128, "@h", &UrlParts::user_name_length, kUserNameCapacity},
      {"http://", 128, ":p@h", &UrlParts::user_name_length, kUserNameCapacity},
      {"http://u:", 128, "@h", &UrlParts::password_length, kPasswordCapacity},
      {"http://h/", 2047, "", &UrlParts::path_length, kPathCapacity},
      {"file://", 2048, "", &UrlParts::path_length, kPathCapacity},
      {"http://h/?", 2047, "", &UrlParts::extra_length, kExtraCapacity},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.prefix) + "..." + row.suffix);
    UrlParts parts;
    ASSERT_TRUE(parts.Decompose(Filled(row.prefix, row.n, 'x', row.suffix).c_str(), nullptr));
    EXPECT_EQ(row.capacity, (parts.*row.length)());
    EXPECT_EQ(kFails, Decomposed(&parts, Filled(row.prefix, row.n + 1, 'x', row.suffix)));
  }
}

// Under a double-byte code page a trail byte is never a delimiter: 0x40 is '@',
// 0x5C '\\', 0x3F '?' (a Johab-like trail byte here), 0x2E '.'.
TEST(UrlPartsTest, TrailBytesAreNeverDelimiters) {
  const struct { const char* input; const char* single_byte; const char* double_byte; } rows[] = {
      {"http://\x89\x40.example/", "http|2|.example|\x89||/||80",
       "http|2|\x89\x40.example|||/||80"},
      {"http://u:\x89\x40@h/", "fails |-1||||||0", "http|2|h|u|\x89\x40|/||80"},
      {"http://h:8\x89\x40/p", "http|2||h|8\x89|/p||80", "http|2|h|||/p||8"},
      {"http://h/\x95\x3f#", "http|2|h|||/\x95|?#|80", "http|2|h|||/\x95?|#|80"},
      {"http://h\x81", "http|2|h\x81|||||80", "http|2|h\x81|||||80"},  // a lone lead byte
  };
  for (const auto& row : rows) {
    UrlParts parts;
    EXPECT_EQ(row.single_byte, Decomposed(&parts, row.input)) << row.input;
    EXPECT_EQ(row.double_byte, Decomposed(&parts, row.input, IsShiftJisLead)) << row.input;
  }
}

TEST(UrlPartsTest, ListedFormDropsOneSeparatorAndDerivesDomain) {
  const struct { const char* input; const char* path; const char* domain;
                 LeadBytePredicate is_lead = nullptr; } rows[] = {
      {"http://alpha.test/", "", "alpha.test"},
      {"http://alpha.test/a//", "/a/", "alpha.test"},
      {"http://alpha.test/a\\", "/a", "alpha.test"},
      {"http://192.168.1.10/", "", "1.10"},
      {"http://a.-.-/", "", "a.-.-"},
      {"http://a.-.x/", "", "-.x"},                // a letter anywhere after the dot counts
      {"http://a.b.test./", "", "test."},          // a trailing dot is one of the two
      {"http://.a.b/", "", "a.b"},                 // the second dot may be the first byte
      {"http://a.\xE9.\xFC/", "", "a.\xE9.\xFC"},  // bytes above 127 are not letters
      {"file:///C:/x/", "/C:/x", ""},
      // double-byte: a trail 0x5C is no separator, a trail '.' or letter counts for nothing
      {"http://a.b.c/\x95\x5c", "/\x95\x5c", "b.c", IsShiftJisLead},
      {"http://a.b.c/\x95\x5c", "/\x95", "b.c"},
      {"http://x.-.\x82\x61/", "", "x.-.\x82\x61", IsShiftJisLead},
      {"http://x.-.\x82\x61/", "", "-.\x82\x61"},
      {"http://x.\x81.\x81./", "", "x.\x81.\x81.", IsShiftJisLead},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.input);
    ListedUrl url;
    ASSERT_TRUE(url.DecomposeListed(row.input, row.is_lead));
    EXPECT_EQ(row.path, std::string(url.path(), url.path_length()));
    EXPECT_EQ(row.domain, url.domain());
    EXPECT_EQ(0, std::string(row.input).compare(url.host_offset(), url.host_length(),
                                                url.host(), url.host_length()));
  }
  ListedUrl url;  // a failure resets the parts and the domain
  ASSERT_TRUE(url.DecomposeListed("http://w.alpha.test/x/", nullptr));
  EXPECT_FALSE(url.DecomposeListed("alpha.test", nullptr));
  EXPECT_EQ("", url.domain());
}

}  // namespace
}  // namespace zelk
