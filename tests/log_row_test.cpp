#include "poplog/log_row.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zelk {
namespace {

// Fixed lead-byte rules, so that the cut is tested the same on every machine
// whatever its code page: no double-byte characters at all, and the lead
// bytes of the Japanese code page.
bool NoLeadBytes(unsigned char) { return false; }
bool JapaneseLeadBytes(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

const LogTime kMorning{2004, 3, 7, 9, 5};

std::string EntryRow(const std::string* pop, bool pop_linkable, const std::string* src,
                     bool src_linkable, const LogTime& time = kMorning,
                     LeadBytePredicate is_lead_byte = NoLeadBytes) {
  std::string row = "untouched";
  EXPECT_EQ(S_OK, FormatEntryRow(RowUrl{pop, pop_linkable}, RowUrl{src, src_linkable}, time,
                                 is_lead_byte, &row));
  return row;
}

std::string Shown(const std::string& url, LeadBytePredicate is_lead_byte = NoLeadBytes) {
  std::string display = "untouched";
  EXPECT_EQ(S_OK, DisplayForm(url, is_lead_byte, &display));
  return display;
}

std::string Escaped(const std::string& text) {
  std::string escaped = "untouched";
  EXPECT_EQ(S_OK, EscapeHtml(text, &escaped));
  return escaped;
}

size_t CountOf(const std::string& text, char c) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

// --- Row choice and exact bytes ----------------------------------------------

const std::string kPop = "http://pop.example/ad";
const std::string kSrc = "http://src.example/page";

const char kTwoLinkRow[] =
    "<TR><TD><font size=2><A href='http://pop.example/ad' target=_blank>http://pop.example/ad"
    "</A></font></TD><TD><font size=2><A href='http://src.example/page' target=_blank>"
    "http://src.example/page</A></font></TD><TD><font size=2>2004-03-07 09:05</font></TD>"
    "</TR>\n";
const char kSourceOnlyRow[] =
    "<TR><TD><font size=2>?{/font></TD><TD><font size=2><A href='http://src.example/page' "
    "target=_blank>http://src.example/page</A></font></TD><TD><font size=2>2004-03-07 09:05"
    "</font></TD></TR>\n";
const char kNoLinkRow[] =
    "<TR><TD><font size=2>?{/font></TD><TD><font size=2>?{/font></TD><TD><font size=2>"
    "2004-03-07 09:05</font></TD></TR>\n";

struct RowChoiceCase {
  const char* name;
  bool pop_present;
  bool pop_linkable;
  bool src_linkable;
  const char* expected;
};

const RowChoiceCase kRowChoiceCases[] = {
    {"both linkable", true, true, true, kTwoLinkRow},
    {"pop absent", false, false, true, kSourceOnlyRow},
    {"pop absent though flagged linkable", false, true, true, kSourceOnlyRow},
    {"pop not linkable", true, false, true, kSourceOnlyRow},
    {"src not linkable, pop linkable", true, true, false, kNoLinkRow},
    {"neither linkable", true, false, false, kNoLinkRow},
    {"pop absent, src not linkable", false, false, false, kNoLinkRow},
};

TEST(LogRowTest, ChoosesRowByWhichUrlsAreLinkable) {
  for (const RowChoiceCase& test : kRowChoiceCases) {
    SCOPED_TRACE(test.name);
    const std::string* pop = test.pop_present ? &kPop : nullptr;
    EXPECT_EQ(test.expected, EntryRow(pop, test.pop_linkable, &kSrc, test.src_linkable));
  }
}

TEST(LogRowTest, MissingSourceTextIsNeverALink) {
  EXPECT_EQ(kNoLinkRow, EntryRow(&kPop, true, nullptr, true));
}

TEST(LogRowTest, LimitRowHasExactBytesAndNoLineEnd) {
  EXPECT_STREQ(
      "<TR><TD colspan=3 align=center><font size=2>Log count limit reached. Please clear the "
      "log.</font></TD></TR>",
      kLimitRow);
}

TEST(LogRowTest, EmptyLogRowHasExactBytes) {
  EXPECT_STREQ(
      "<TR><TD colspan=3 align=center><font size=2>No logs avaliable.</font></TD></TR>",
      kEmptyLogRow);
}

// --- Time cell -----------------------------------------------------------------

struct TimeCase {
  LogTime time;
  const char* expected;
};

const TimeCase kTimeCases[] = {
    {{2004, 3, 7, 9, 5}, "2004-03-07 09:05"},
    {{1999, 12, 31, 23, 59}, "1999-12-31 23:59"},
    {{2000, 1, 1, 0, 0}, "2000-01-01 00:00"},
    {{5, 2, 3, 4, 6}, "0005-02-03 04:06"},
    {{30827, 12, 31, 23, 59}, "30827-12-31 23:59"},
};

TEST(LogRowTest, TimeCellIsZeroPaddedToTheMinute) {
  for (const TimeCase& test : kTimeCases) {
    SCOPED_TRACE(test.expected);
    const std::string row = EntryRow(nullptr, false, &kSrc, false, test.time);
    EXPECT_EQ(std::string("<TR><TD><font size=2>?{/font></TD><TD><font size=2>?{/font></TD>"
                          "<TD><font size=2>") +
                  test.expected + "</font></TD></TR>\n",
              row);
  }
}

TEST(LogRowTest, TimeComesFromTheSystemTimeFields) {
  SYSTEMTIME time = {};
  time.wYear = 2011;
  time.wMonth = 10;
  time.wDayOfWeek = 3;
  time.wDay = 19;
  time.wHour = 17;
  time.wMinute = 42;
  time.wSecond = 58;
  time.wMilliseconds = 999;
  const LogTime log_time = LogTimeFromSystemTime(time);
  EXPECT_EQ(2011, log_time.year);
  EXPECT_EQ(10, log_time.month);
  EXPECT_EQ(19, log_time.day);
  EXPECT_EQ(17, log_time.hour);
  EXPECT_EQ(42, log_time.minute);
}

// --- Display form ----------------------------------------------------------------

// A URL of exactly `length` bytes: a short scheme and host, then digits.
std::string UrlOfLength(size_t length) {
  std::string url = "http://h/";
  for (size_t i = 0; url.size() < length; ++i) url.push_back(static_cast<char>('0' + i % 10));
  url.resize(length);
  return url;
}

TEST(LogRowTest, UrlsUpTo34BytesAreShownWhole) {
  for (size_t length : {0u, 1u, 9u, 33u, 34u}) {
    SCOPED_TRACE(length);
    const std::string url = UrlOfLength(length);
    EXPECT_EQ(url, Shown(url));
  }
}

TEST(LogRowTest, LongerUrlsAreShownAsTheir31FirstBytesAndEllipsis) {
  for (size_t length : {35u, 36u, 100u, 2048u}) {
    SCOPED_TRACE(length);
    const std::string url = UrlOfLength(length);
    EXPECT_EQ(url.substr(0, 31) + "...", Shown(url));
  }
}

TEST(LogRowTest, LinkTargetIsTheWholeUrlWhileTheShownTextIsCut) {
  const std::string pop = UrlOfLength(35);
  const std::string src = UrlOfLength(34);
  const std::string row = EntryRow(&pop, true, &src, true);
  EXPECT_EQ("<TR><TD><font size=2><A href='" + pop + "' target=_blank>" + pop.substr(0, 31) +
                "...</A></font></TD><TD><font size=2><A href='" + src + "' target=_blank>" +
                src + "</A></font></TD><TD><font size=2>2004-03-07 09:05</font></TD></TR>\n",
            row);
}

struct CutCase {
  const char* name;
  std::string url;
  LeadBytePredicate is_lead_byte;
  std::string expected;
};

TEST(LogRowTest, CutNeverSplitsADoubleByteCharacter) {
  const std::string ascii29(29, 'a');
  const std::string ascii30(30, 'a');
  const std::string kana = "\x82\xA0";  // one double-byte character
  std::string kana20;
  for (int i = 0; i < 20; ++i) kana20 += kana;
  // Trail bytes that are lead bytes as well: only stepping from the start tells
  // them apart.
  std::string lead_pairs;
  for (int i = 0; i < 20; ++i) lead_pairs += "\x82\x82";

  const std::vector<CutCase> cases = {
      {"character ends at byte 31", ascii29 + kana + "tail", JapaneseLeadBytes,
       ascii29 + kana + "..."},
      {"character would end at byte 32", ascii30 + kana + "tail", JapaneseLeadBytes,
       ascii30 + "..."},
      {"only double-byte characters", kana20, JapaneseLeadBytes, kana20.substr(0, 30) + "..."},
      {"pairs of lead-range bytes", lead_pairs, JapaneseLeadBytes,
       lead_pairs.substr(0, 30) + "..."},
      {"pairs of lead-range bytes after one byte", "a" + lead_pairs, JapaneseLeadBytes,
       "a" + lead_pairs.substr(0, 30) + "..."},
      {"single-byte code page cuts at 31", ascii30 + kana + "tail", NoLeadBytes,
       ascii30 + "\x82" + "..."},
      {"34 bytes with double-byte characters stay whole", kana20.substr(0, 34),
       JapaneseLeadBytes, kana20.substr(0, 34)},
      {"lone lead byte at the end of a long URL", std::string(34, 'b') + "\x82",
       JapaneseLeadBytes, std::string(31, 'b') + "..."},
  };
  for (const CutCase& test : cases) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(test.expected, Shown(test.url, test.is_lead_byte));
  }
}

TEST(LogRowTest, RowUsesTheLeadBytePredicateForTheCut) {
  const std::string src = std::string(30, 'a') + "\x82\xA0" + "tail";
  const std::string row = EntryRow(nullptr, false, &src, true, kMorning, JapaneseLeadBytes);
  EXPECT_NE(std::string::npos,
            row.find("target=_blank>" + std::string(30, 'a') + "...</A>"));
}

// --- Escaping ----------------------------------------------------------------------

struct EscapeCase {
  std::string text;
  std::string expected;
};

TEST(LogRowTest, EscapesMarkupAndControlBytes) {
  const std::vector<EscapeCase> cases = {
      {"&", "&amp;"},
      {"<", "&lt;"},
      {">", "&gt;"},
      {"\"", "&quot;"},
      {"'", "&#39;"},
      {"\r", "&#13;"},
      {"\n", "&#10;"},
      {"\x1a", "&#26;"},
      {"\t", "&#9;"},
      {"\x01", "&#1;"},
      {"\x1f", "&#31;"},
      {"\x7f", "&#127;"},
      {std::string(1, '\0'), "&#0;"},
      {"&amp;", "&amp;amp;"},
      {" ~/?=;%#", " ~/?=;%#"},
      {"\x80\xA0\xE9\xFF", "\x80\xA0\xE9\xFF"},
      {"\x82<", "\x82&lt;"},
      {"a=1&b='2'", "a=1&amp;b=&#39;2&#39;"},
  };
  for (const EscapeCase& test : cases) {
    SCOPED_TRACE(test.expected);
    EXPECT_EQ(test.expected, Escaped(test.text));
  }
}

bool IsSafeReferenceByte(char c) {
  return c == '&' || c == '#' || c == ';' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
}

TEST(LogRowTest, EveryByteComesOutAsItselfOrAsAReference) {
  const std::string markup = "&<>\"'";
  for (int value = 0; value < 256; ++value) {
    SCOPED_TRACE(value);
    const char c = static_cast<char>(value);
    const std::string escaped = Escaped(std::string(1, c));
    const bool must_escape = value < 0x20 || value == 0x7F || markup.find(c) != std::string::npos;
    if (!must_escape) {
      EXPECT_EQ(std::string(1, c), escaped);
      continue;
    }
    ASSERT_GE(escaped.size(), 4u);
    EXPECT_EQ('&', escaped.front());
    EXPECT_EQ(';', escaped.back());
    EXPECT_TRUE(std::all_of(escaped.begin(), escaped.end(), IsSafeReferenceByte)) << escaped;
  }
}

TEST(LogRowTest, HostileUrlIsEscapedInTargetAndShownText) {
  const std::string pop = "http://x/'><b>";
  const std::string src = "http://y/\"\r\n\x1a";
  const std::string row = EntryRow(&pop, true, &src, true);
  EXPECT_EQ(
      "<TR><TD><font size=2><A href='http://x/&#39;&gt;&lt;b&gt;' target=_blank>"
      "http://x/&#39;&gt;&lt;b&gt;</A></font></TD><TD><font size=2><A href='http://y/&quot;"
      "&#13;&#10;&#26;' target=_blank>http://y/&quot;&#13;&#10;&#26;</A></font></TD><TD>"
      "<font size=2>2004-03-07 09:05</font></TD></TR>\n",
      row);
}

TEST(LogRowTest, HostileUrlsCannotChangeTheRowStructure) {
  const std::vector<std::string> hostile = {
      "http://a/' onmouseover='alert(1)",
      "http://a/\"><script>alert(1)</script>",
      "http://a/</A></font></TD></TR><TR><TD>",
      "http://a/\r\n<TR><TD>forged</TD></TR>\r\n",
      "http://a/\x1a rest hidden from text-mode readers",
      std::string("http://a/\0<b>", 13),
      "http://a/\x7f\x01\x02\x03\x1b[2J",
      "http://a/&lt;already&gt;",
  };
  // The row template's own markup: four quotes around the two targets, one line
  // end, and its tags.
  const std::string plain = "http://a/";
  const std::string reference = EntryRow(&plain, true, &plain, true);
  for (const std::string& url : hostile) {
    SCOPED_TRACE(url);
    const std::string row = EntryRow(&url, true, &url, true);
    EXPECT_EQ(CountOf(reference, '\''), CountOf(row, '\''));
    EXPECT_EQ(CountOf(reference, '"'), CountOf(row, '"'));
    EXPECT_EQ(CountOf(reference, '<'), CountOf(row, '<'));
    EXPECT_EQ(CountOf(reference, '>'), CountOf(row, '>'));
    EXPECT_EQ(1u, CountOf(row, '\n'));
    EXPECT_EQ('\n', row.back());
    for (char c : row.substr(0, row.size() - 1)) {
      EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
          << "control byte " << static_cast<int>(static_cast<unsigned char>(c));
    }
  }
}

TEST(LogRowTest, CutCountsUnescapedBytesAndEscapesAfterwards) {
  // 34 bytes with an ampersand: shown whole, though escaped it is longer.
  const std::string whole = "http://h/?a=1&b=2&c=3&d=4&e=5&f=67";
  ASSERT_EQ(34u, whole.size());
  EXPECT_EQ(whole, Shown(whole));
  // An ampersand as the 31st byte is kept; one just past the kept prefix is not.
  const std::string kept = std::string(30, 'x') + "&yyyy";
  const std::string dropped = std::string(31, 'x') + "&yyy";
  const std::string row_kept = EntryRow(nullptr, false, &kept, true);
  const std::string row_dropped = EntryRow(nullptr, false, &dropped, true);
  EXPECT_NE(std::string::npos,
            row_kept.find("target=_blank>" + std::string(30, 'x') + "&amp;...</A>"));
  EXPECT_NE(std::string::npos,
            row_dropped.find("target=_blank>" + std::string(31, 'x') + "...</A>"));
  EXPECT_NE(std::string::npos,
            row_kept.find("href='" + std::string(30, 'x') + "&amp;yyyy'"));
  const std::string row_whole = EntryRow(nullptr, false, &whole, true);
  EXPECT_NE(std::string::npos,
            row_whole.find(">http://h/?a=1&amp;b=2&amp;c=3&amp;d=4&amp;e=5&amp;f=67</A>"));
}

}  // namespace
}  // namespace zelk
