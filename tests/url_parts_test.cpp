// URL decomposition: one table row per URL. Pure code: builds natively too.
#include "safelist/url_parts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace zelk {
namespace {

// A failed decomposition: every part empty, kind unknown, port 0.
const char kFails[] = "fails |-1||||||0";

// Decomposes `text` into "scheme|kind|host|user|password|path|extra|port", with
// "fails " in front when Decompose returns false; checks each length and capacity.
std::string Decomposed(UrlParts* parts, const std::string& text) {
  std::string out = parts->Decompose(text.c_str()) ? "" : "fails ";
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
    ASSERT_TRUE(parts.Decompose("ftp://old:pw@stale.test:99/old/path?old#extra"));
    EXPECT_EQ(row.expected, Decomposed(&parts, row.input)) << row.input.substr(0, 60);
  }
  EXPECT_FALSE(UrlParts().Decompose(nullptr));
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
    ASSERT_TRUE(parts.Decompose(Filled(row.prefix, row.n, 'x', row.suffix).c_str()));
    EXPECT_EQ(row.capacity, (parts.*row.length)());
    EXPECT_EQ(kFails, Decomposed(&parts, Filled(row.prefix, row.n + 1, 'x', row.suffix)));
  }
}

TEST(UrlPartsTest, ListedFormDropsOneSeparatorAndDerivesDomain) {
  const struct { const char* input; const char* path; const char* domain; } rows[] = {
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
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.input);
    ListedUrl url;
    ASSERT_TRUE(url.DecomposeListed(row.input));
    EXPECT_EQ(row.path, std::string(url.path(), url.path_length()));
    EXPECT_EQ(row.domain, url.domain());
  }
  ListedUrl url;  // a failure resets the parts but keeps the domain
  ASSERT_TRUE(url.DecomposeListed("http://w.alpha.test/x/"));
  EXPECT_FALSE(url.DecomposeListed("alpha.test"));
  EXPECT_EQ("alpha.test", url.domain());
  EXPECT_EQ(0u, url.host_length());
}

TEST(UrlPartsTest, RandomTextsStayWithinCapacityAndDecomposeTheSameTwice) {
  std::mt19937 random(20240611u);
  const char alphabet[] = "aB9.-:/?#@\\ +%";
  UrlParts reused;
  for (int iteration = 0; iteration < 20000; ++iteration) {
    // Mostly short texts; now and then long enough to cross every capacity.
    const size_t length = random() % 10 != 0 ? random() % 100 : random() % 6000;
    std::string text = random() % 2 != 0 ? "http://" : "";
    while (text.size() < length) {
      const unsigned choice = random() % 100;
      if (choice < 5) text += "://";
      else if (choice < 80) text += alphabet[random() % (sizeof(alphabet) - 1)];
      else text += static_cast<char>(1 + random() % 255);
    }
    UrlParts fresh;
    const std::string first = Decomposed(&fresh, text);
    ASSERT_EQ(first, Decomposed(&reused, text)) << text;
    ASSERT_TRUE(first.compare(0, 6, "fails ") != 0 || first == kFails) << first;
  }
}

}  // namespace
}  // namespace zelk
