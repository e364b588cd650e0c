#include "poplog/log_row.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace zelk {
namespace {

// Fixed lead-byte rules, so the cut is tested the same whatever the machine's code page.
bool NoLeadBytes(unsigned char) { return false; }
bool Cp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

const std::string kPop = "http://pop.example/ad", kSrc = "http://src.example/page";
const std::string kNoLink = "<TD><font size=2>?{/font></TD>";
const std::string kTime = "<TD><font size=2>2004-03-07 09:05</font></TD></TR>\n";

std::string Link(const std::string& target, const std::string& shown) {
  return "<TD><font size=2><A href='" + target + "' target=_blank>" + shown + "</A></font></TD>";
}

std::string Row(const std::string* pop, bool pop_ok, const std::string* src, bool src_ok,
                LeadBytePredicate lead = NoLeadBytes) {
  std::string row = "untouched";
  EXPECT_EQ(S_OK, FormatEntryRow({pop, pop_ok}, {src, src_ok}, {2004, 3, 7, 9, 5}, lead, &row));
  return row;
}

TEST(LogRowTest, RowTypeFollowsWhichUrlsAreLinkable) {
  const std::string src_only = "<TR>" + kNoLink + Link(kSrc, kSrc) + kTime;
  const std::string none = "<TR>" + kNoLink + kNoLink + kTime;
  EXPECT_EQ("<TR>" + Link(kPop, kPop) + Link(kSrc, kSrc) + kTime, Row(&kPop, true, &kSrc, true));
  EXPECT_EQ(src_only, Row(nullptr, true, &kSrc, true));  // absent though flagged linkable
  EXPECT_EQ(src_only, Row(&kPop, false, &kSrc, true));
  EXPECT_EQ(none, Row(&kPop, true, &kSrc, false));  // no source link: no link at all
  EXPECT_EQ(none, Row(&kPop, true, nullptr, true));
}

// The shown text is cut by the row's lead-byte rule before escaping; the target stays whole.
TEST(LogRowTest, ShownTextIsCutAfter34BytesOnACharacterBoundary) {
  const std::string a29(29, 'a'), a30(30, 'a'), kana = "\x82\xA0", tail = kana + "tail";
  std::string pairs;  // lead-range trail bytes: only stepping from the start finds the characters
  for (int i = 0; i < 20; ++i) pairs += "\x82\x82";
  const struct { std::string url; LeadBytePredicate lead; std::string shown; } cases[] = {
      {a30 + "&yyy", NoLeadBytes, a30 + "&amp;yyy"},  // 34 bytes: whole, though longer escaped
      {a30 + "&yyyy", NoLeadBytes, a30 + "&amp;..."},  // 35 bytes: 31 kept
      {a29 + tail, Cp932Lead, a29 + kana + "..."}, {a30 + tail, Cp932Lead, a30 + "..."},
      {a30 + tail, NoLeadBytes, a30 + "\x82..."}, {pairs, Cp932Lead, pairs.substr(0, 30) + "..."},
      {"a" + pairs, Cp932Lead, "a" + pairs.substr(0, 30) + "..."},
      {pairs.substr(0, 34), Cp932Lead, pairs.substr(0, 34)},
      {std::string(34, 'b') + "\x82", Cp932Lead, std::string(31, 'b') + "..."},
  };
  for (const auto& c : cases) {
    std::string target;
    ASSERT_EQ(S_OK, EscapeHtml(c.url, &target));
    EXPECT_EQ("<TR>" + kNoLink + Link(target, c.shown) + kTime,
              Row(nullptr, false, &c.url, true, c.lead));
  }
}

TEST(LogRowTest, EscapesMarkupAndControlBytesOnly) {
  std::string escaped;
  ASSERT_EQ(S_OK, EscapeHtml("&<>\"'&amp;\x82<\x80\xFF", &escaped));
  EXPECT_EQ("&amp;&lt;&gt;&quot;&#39;&amp;amp;\x82&lt;\x80\xFF", escaped);
  for (int c = 0; c < 256; ++c) {
    if (std::string("&<>\"'").find(static_cast<char>(c)) != std::string::npos) continue;
    ASSERT_EQ(S_OK, EscapeHtml(std::string(1, static_cast<char>(c)), &escaped));
    EXPECT_EQ(c < 0x20 || c == 0x7F ? "&#" + std::to_string(c) + ";"
                                    : std::string(1, static_cast<char>(c)), escaped);
  }
}

// Whatever a URL holds, the row gets no extra quote, tag, line end or control byte.
TEST(LogRowTest, HostileUrlsAddNoMarkupAndNoLineBreak) {
  const std::string plain = "http://a/", reference = Row(&plain, true, &plain, true);
  const std::string hostile[] = {
      "http://a/' onmouseover='alert(1)", "http://a/\"><script>alert(1)</script>",
      "http://a/</A></font></TD></TR><TR><TD>", "http://a/\r\n<TR><TD>forged</TD></TR>\r\n",
      "http://a/\x1a rest", std::string("http://a/\0<b>", 13), "http://a/\x7f\x1b[2J&lt;x&gt;",
  };
  for (const std::string& url : hostile) {
    const std::string row = Row(&url, true, &url, true);
    for (char c : std::string("'\"<>\n\r\x1a\x1b\x7f\0", 10)) {
      EXPECT_EQ(std::count(reference.begin(), reference.end(), c),
                std::count(row.begin(), row.end(), c)) << url << " byte " << int{c};
    }
  }
}

}  // namespace
}  // namespace zelk
