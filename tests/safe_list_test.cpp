// The safe list against the real registry, redirected to a scratch key. After
// every operation, whatever its result, a second list loaded from the registry
// must hold the same entries as the first one holds in memory.
#include "safelist/safe_list.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "platform/registry_key.h"
#include "platform/text.h"
#include "safelist/url_compare.h"
#include "tests/registry_sandbox.h"

namespace zelk {
namespace {

using KeyAndType = std::pair<std::string, uint32_t>;
using KeyList = std::vector<KeyAndType>;

constexpr long kUnwrittenCode = 0x5eed;

std::string SubkeyPath(const std::string& key) {
  return std::string(kSafeListKeyPath) + "\\" + key;
}

KeyList InListOrder(const SafeList& list) {
  KeyList keys;
  for (const SafeListEntry& entry : list.entries()) keys.emplace_back(entry.key, entry.type);
  return keys;
}

KeyList Sorted(KeyList keys) {
  std::sort(keys.begin(), keys.end());
  return keys;
}

const char* ProtectName(EntryType type) {
  return type == kPage ? "Page" : type == kSite ? "Site" : type == kDomain ? "Domain" : "?";
}

class SafeListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_.CreateSettingsKey();
    // Registration leaves an empty string as the key's own default value.
    sandbox_.SetString(kSafeListKeyPath, "", "");
  }

  // What a restarted server would load equals what this list holds.
  void ExpectInStep(const SafeList& list) const {
    SafeList reloaded;
    ASSERT_EQ(S_OK, reloaded.Load());
    EXPECT_EQ(Sorted(InListOrder(list)), Sorted(InListOrder(reloaded)))
        << "memory and registry disagree";
  }

  void AddSubkey(const std::string& key) const {
    HKEY created = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(sandbox_.root(), SubkeyPath(key).c_str(), 0, nullptr,
                                             0, KEY_ALL_ACCESS, nullptr, &created, nullptr));
    RegCloseKey(created);
  }
  void AddEntrySubkey(const std::string& key, DWORD type) const {
    sandbox_.SetDword(SubkeyPath(key).c_str(), "", type);
  }
  bool SubkeyExists(const std::string& key) const {
    return sandbox_.KeyExists(SubkeyPath(key).c_str());
  }
  DWORD StoredType(const std::string& key) const {
    return sandbox_.ReadDword(SubkeyPath(key).c_str(), "");
  }
  void DeleteSafeListKey() const {
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(sandbox_.root(), kSafeListKeyPath));
  }

  // Loads the hand-made subkeys, checking that they came in the expected
  // order (the registry lists subkeys sorted by name, on Windows and Wine).
  void LoadExpecting(SafeList* list, const KeyList& expected) const {
    ASSERT_EQ(S_OK, list->Load());
    ASSERT_EQ(expected, InListOrder(*list)) << "registry enumeration order";
  }

  long Code(const SafeList& list, const char* url, bool protect_local = false,
            bool protect_https = false) const {
    long code = kUnwrittenCode;
    EXPECT_EQ(S_OK, list.IsProtected(url, protect_local, protect_https, &code)) << url;
    return code;
  }

  testing::RegistrySandbox sandbox_;
};

// --- Protect ----------------------------------------------------------------

TEST_F(SafeListTest, ProtectPageAddsThePrefixOnlyWhenNeeded) {
  SafeList list;
  ASSERT_EQ(S_OK, list.Protect("a.test/x", kPage));
  ASSERT_EQ(S_OK, list.Protect("a.test:81/y", kPage));  // decomposes as an unknown scheme
  ASSERT_EQ(S_OK, list.Protect("", kPage));
  EXPECT_EQ((KeyList{{"http://a.test/x", kPage}, {"a.test:81/y", kPage}, {"http://", kPage}}),
            InListOrder(list));
  EXPECT_EQ(1u, StoredType("http://a.test/x"));
  EXPECT_EQ(1u, StoredType("a.test:81/y"));
  EXPECT_EQ(1u, StoredType("http://"));
  const ListedUrl& empty = list.entries()[2].url;
  EXPECT_STREQ("", empty.host());
  EXPECT_STREQ("", empty.path());
  EXPECT_EQ(80, empty.port());
  ExpectInStep(list);
}

TEST_F(SafeListTest, QuestionsNeverAddThePrefix) {
  SafeList list;
  ASSERT_EQ(S_OK, list.Protect("a.test/x", kPage));
  long code = kUnwrittenCode;
  EXPECT_EQ(E_INVALIDARG, list.IsProtected("a.test/x", false, false, &code));
  EXPECT_EQ(kUnwrittenCode, code);
  EXPECT_EQ(kProtectedByPage, Code(list, "http://A.TEST/x/?q=1"));
  EXPECT_EQ(kNotProtected, Code(list, "http://a.test/y"));

  EXPECT_EQ(E_INVALIDARG, list.Unprotect("a.test/x"));
  EXPECT_EQ(1u, list.entries().size());
  EXPECT_EQ(S_OK, list.Unprotect("http://a.test/x"));
  EXPECT_TRUE(list.entries().empty());
  EXPECT_FALSE(SubkeyExists("http://a.test/x"));
  ExpectInStep(list);
}

TEST_F(SafeListTest, QuestionsAreAnsweredFromMemory) {
  SafeList list;
  ASSERT_EQ(S_OK, list.Protect("http://a.test/x", kPage));
  DeleteSafeListKey();
  EXPECT_EQ(kProtectedByPage, Code(list, "http://a.test/x"));
}

TEST_F(SafeListTest, ProtectingACoveredUrlWritesNothing) {
  SafeList list;
  ASSERT_EQ(S_OK, list.Protect("http://a.test/x", kPage));
  // A marker the second call would overwrite if it wrote anything.
  AddEntrySubkey("http://a.test/x", 7);
  EXPECT_EQ(S_OK, list.Protect("http://A.TEST/x/", kPage));
  EXPECT_EQ((KeyList{{"http://a.test/x", kPage}}), InListOrder(list));
  EXPECT_EQ(7u, StoredType("http://a.test/x"));
}

struct OverlapRow {
  const char* what;
  std::vector<std::pair<const char*, EntryType>> before;  // protected in this order
  const char* url;
  EntryType type;
  KeyList after;  // in list order
};

TEST_F(SafeListTest, ProtectReplacesOverlapsOfOtherTypesAndStopsAtCoveringOnes) {
  // clang-format off
  const std::vector<OverlapRow> rows = {
    {"page covers same page", {{"http://a.test/x", kPage}}, "http://A.TEST/x/?q", kPage,
     {{"http://a.test/x", kPage}}},
    {"pages of one site coexist", {{"http://a.test/x", kPage}}, "http://a.test/y", kPage,
     {{"http://a.test/x", kPage}, {"http://a.test/y", kPage}}},
    {"site replaces page of the site", {{"http://a.test/x", kPage}}, "http://a.test/y", kSite,
     {{"http://a.test/y", kSite}}},
    {"site keeps page of another site", {{"http://a.test/x", kPage}}, "http://b.test/", kSite,
     {{"http://a.test/x", kPage}, {"http://b.test/", kSite}}},
    {"domain replaces page in the domain", {{"http://w.alpha.test/x", kPage}},
     "http://v.alpha.test/", kDomain, {{"http://v.alpha.test/", kDomain}}},
    {"domain keeps page of another kind", {{"https://w.alpha.test/x", kPage}},
     "http://v.alpha.test/", kDomain,
     {{"https://w.alpha.test/x", kPage}, {"http://v.alpha.test/", kDomain}}},
    {"page replaces site of the page", {{"http://a.test/x", kSite}}, "http://a.test/y", kPage,
     {{"http://a.test/y", kPage}}},
    {"site covers same site", {{"http://a.test/", kSite}}, "http://A.test/z", kSite,
     {{"http://a.test/", kSite}}},
    {"sites on other ports coexist", {{"http://a.test:81/", kSite}}, "http://a.test/", kSite,
     {{"http://a.test:81/", kSite}, {"http://a.test/", kSite}}},
    {"explicit default port is the same site", {{"http://a.test:80/", kSite}}, "http://a.test/q",
     kSite, {{"http://a.test:80/", kSite}}},
    {"domain replaces site in the domain", {{"http://a.test/", kSite}}, "http://b.a.test/",
     kDomain, {{"http://b.a.test/", kDomain}}},
    {"domain keeps site of another kind", {{"http://w.alpha.test/", kSite}},
     "https://w.alpha.test/", kDomain,
     {{"http://w.alpha.test/", kSite}, {"https://w.alpha.test/", kDomain}}},
    {"page replaces domain", {{"http://v.alpha.test/", kDomain}}, "http://w.alpha.test/x", kPage,
     {{"http://w.alpha.test/x", kPage}}},
    {"site replaces domain", {{"http://v.alpha.test/", kDomain}}, "http://x.y.alpha.test/", kSite,
     {{"http://x.y.alpha.test/", kSite}}},
    {"domain covers same domain", {{"http://v.alpha.test/", kDomain}}, "http://alpha.test/",
     kDomain, {{"http://v.alpha.test/", kDomain}}},
    {"domains are not suffixes", {{"http://alpha.test/", kDomain}}, "http://alpha.test.example/",
     kDomain, {{"http://alpha.test/", kDomain}, {"http://alpha.test.example/", kDomain}}},
    {"numeric hosts share their last two labels", {{"http://192.168.1.10/", kDomain}},
     "http://10.0.1.10/", kPage, {{"http://10.0.1.10/", kPage}}},
    {"site after page of the same key", {{"http://a.test/", kPage}}, "http://a.test/", kSite,
     {{"http://a.test/", kSite}}},
    {"domain after site of the same key", {{"http://a.test/", kSite}}, "http://a.test/", kDomain,
     {{"http://a.test/", kDomain}}},
    {"unknown schemes are one kind", {{"about:blank", kPage}}, "foo:blank", kSite,
     {{"foo:blank", kSite}}},
    {"every overlap goes, the others keep their order",
     {{"http://a.test/1", kPage}, {"http://b.test/", kSite}, {"http://a.test/2", kPage},
      {"http://c.test/", kPage}},
     "http://a.test/", kSite,
     {{"http://b.test/", kSite}, {"http://c.test/", kPage}, {"http://a.test/", kSite}}},
    {"domain replaces only the same kind",
     {{"http://a.test/x", kPage}, {"https://a.test/x", kPage}}, "http://z.a.test/", kDomain,
     {{"https://a.test/x", kPage}, {"http://z.a.test/", kDomain}}},
  };
  // clang-format on
  for (const OverlapRow& row : rows) {
    SCOPED_TRACE(std::string(row.what) + ": Protect" + ProtectName(row.type) + " '" + row.url +
                 "'");
    DeleteSafeListKey();
    sandbox_.CreateSettingsKey();
    SafeList list;
    for (const auto& earlier : row.before) {
      ASSERT_EQ(S_OK, list.Protect(earlier.first, earlier.second));
    }
    ASSERT_EQ(row.before.size(), list.entries().size()) << "the setup itself overlaps";
    EXPECT_EQ(S_OK, list.Protect(row.url, row.type));
    EXPECT_EQ(row.after, InListOrder(list));
    for (const KeyAndType& entry : row.after) EXPECT_EQ(entry.second, StoredType(entry.first));
    ExpectInStep(list);
  }
}

TEST_F(SafeListTest, RemovalsBeforeACoveringEntryStand) {
  AddEntrySubkey("http://a.test/x", kPage);
  AddEntrySubkey("http://a.test:80/", kSite);
  SafeList list;
  LoadExpecting(&list, {{"http://a.test/x", kPage}, {"http://a.test:80/", kSite}});
  EXPECT_EQ(S_OK, list.Protect("http://a.test/q", kSite));
  EXPECT_EQ((KeyList{{"http://a.test:80/", kSite}}), InListOrder(list));
  EXPECT_FALSE(SubkeyExists("http://a.test/x"));
  EXPECT_FALSE(SubkeyExists("http://a.test/q"));
  ExpectInStep(list);
}

struct MultiBitRow {
  DWORD loaded_type;  // of the hand-made entry "http://w.a.test/p"
  const char* url;
  EntryType type;
  bool replaced;  // else kept, or covered when `covered`
  bool covered;
};

TEST_F(SafeListTest, ProtectReadsSeveralTypeBitsInOrder) {
  // clang-format off
  const MultiBitRow rows[] = {
    // page bit hides the site bit; the domain bit is tested after it
    {kPage | kSite,   "http://w.a.test/q",  kSite,   true,  false},
    {kPage | kSite,   "http://w.a.test/p",  kPage,   false, true},
    {kPage | kSite,   "http://w.a.test/q",  kPage,   false, false},
    {kPage | kDomain, "http://w.a.test/p",  kPage,   false, true},
    {kPage | kDomain, "http://v.a.test/",   kDomain, true,  false},
    {kPage | kDomain, "http://w.a.test/q",  kPage,   true,  false},   // domain row replaces
    {kSite | kDomain, "http://w.a.test/",   kSite,   false, true},
    {kSite | kDomain, "http://v.a.test/",   kDomain, true,  false},
    {kSite | kDomain, "http://v.a.test/",   kSite,   true,  false},
    {kPage | kSite | kDomain, "http://v.a.test/", kDomain, true, false},
    // no type bit: never overlaps, but a second entry must not share its subkey
    {0,               "http://w.a.test/p/", kPage,   false, false},
    {8,               "http://w.a.test/p?q", kDomain, false, false},
    {0,               "http://w.a.test/p",  kPage,   true,  false},
    {8,               "HTTP://W.A.TEST/P",  kDomain, true,  false},
  };
  // clang-format on
  for (const MultiBitRow& row : rows) {
    SCOPED_TRACE("loaded type " + std::to_string(row.loaded_type) + ", Protect" +
                 ProtectName(row.type) + " '" + row.url + "'");
    DeleteSafeListKey();
    sandbox_.CreateSettingsKey();
    AddEntrySubkey("http://w.a.test/p", row.loaded_type);
    SafeList list;
    LoadExpecting(&list, {{"http://w.a.test/p", row.loaded_type}});
    EXPECT_EQ(S_OK, list.Protect(row.url, row.type));
    KeyList expected;
    if (!row.replaced) expected.emplace_back("http://w.a.test/p", row.loaded_type);
    if (!row.covered) expected.emplace_back(row.url, row.type);
    EXPECT_EQ(expected, InListOrder(list));
    ExpectInStep(list);
  }
}

// --- Unprotect ----------------------------------------------------------------

TEST_F(SafeListTest, UnprotectRemovesPageSiteAndDomainAtOnce) {
  AddEntrySubkey("http://alpha.test/", kDomain);
  AddEntrySubkey("http://other.test/", kPage);
  AddEntrySubkey("http://w.alpha.test/", kSite);
  AddEntrySubkey("http://w.alpha.test/p", kPage);
  AddEntrySubkey("https://w.alpha.test/p", kPage);
  SafeList list;
  ASSERT_EQ(S_OK, list.Load());
  ASSERT_EQ(5u, list.entries().size());
  EXPECT_EQ(S_OK, list.Unprotect("http://w.alpha.test/p"));
  EXPECT_EQ((KeyList{{"http://other.test/", kPage}, {"https://w.alpha.test/p", kPage}}),
            Sorted(InListOrder(list)));
  EXPECT_FALSE(SubkeyExists("http://alpha.test/"));
  EXPECT_FALSE(SubkeyExists("http://w.alpha.test/"));
  EXPECT_FALSE(SubkeyExists("http://w.alpha.test/p"));
  ExpectInStep(list);

  EXPECT_EQ(S_OK, list.Unprotect("http://nothing.test/"));
  EXPECT_EQ(2u, list.entries().size());
  ExpectInStep(list);
}

TEST_F(SafeListTest, UnprotectTestsOnlyTheEntrysOwnType) {
  SafeList list;
  ASSERT_EQ(S_OK, list.Protect("http://a.test/x", kPage));
  EXPECT_EQ(S_OK, list.Unprotect("http://a.test/"));  // same site, other page
  EXPECT_EQ(1u, list.entries().size());

  // With the page bit set, only the page test decides, even with the domain bit.
  DeleteSafeListKey();
  sandbox_.CreateSettingsKey();
  AddEntrySubkey("http://w.a.test/p", kPage | kDomain);
  SafeList loaded;
  ASSERT_EQ(S_OK, loaded.Load());
  EXPECT_EQ(S_OK, loaded.Unprotect("http://v.a.test/"));
  EXPECT_EQ(1u, loaded.entries().size());
  EXPECT_EQ(kProtectedByDomain, Code(loaded, "http://v.a.test/"));
  EXPECT_EQ(S_OK, loaded.Unprotect("http://w.a.test/p/"));
  EXPECT_TRUE(loaded.entries().empty());
  ExpectInStep(loaded);
}

// --- IsProtected ----------------------------------------------------------------

TEST_F(SafeListTest, LocalAndHttpsSettingsComeBeforeTheList) {
  SafeList list;
  ASSERT_EQ(S_OK, list.Protect("http://intranet/", kPage));
  ASSERT_EQ(S_OK, list.Protect("https://a.test/", kPage));
  ASSERT_EQ(S_OK, list.Protect("file:///C:/x.htm", kPage));
  ASSERT_EQ(S_OK, list.Protect("https://intranet/", kSite));
  const struct {
    const char* url;
    bool protect_local;
    bool protect_https;
    long code;
  } rows[] = {
      {"http://intranet/", true, false, kProtectedAsLocal},
      {"http://intranet/", false, false, kProtectedByPage},
      {"file:///C:/x.htm", true, true, kProtectedAsLocal},
      {"file:///C:/x.htm", false, true, kProtectedByPage},
      {"file://host.test/y.htm", true, false, kProtectedAsLocal},  // file is local whatever follows
      {"http:/path", true, false, kProtectedAsLocal},              // empty host
      {"about:", true, false, kProtectedAsLocal},
      {"http://a.test/", true, true, kNotProtected},
      {"https://a.test/", true, true, kProtectedAsHttps},
      {"https://a.test/", true, false, kProtectedByPage},
      {"https://b.test/", false, true, kProtectedAsHttps},
      {"https://b.test/", false, false, kNotProtected},
      {"https://intranet/x", true, true, kProtectedAsLocal},
      {"https://intranet/x", false, true, kProtectedAsHttps},
      {"https://intranet/x", false, false, kProtectedBySite},
      {"HTTPS://B.TEST:444/", false, true, kProtectedAsHttps},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.url) + " local=" + std::to_string(row.protect_local) +
                 " https=" + std::to_string(row.protect_https));
    EXPECT_EQ(row.code, Code(list, row.url, row.protect_local, row.protect_https));
  }
}

TEST_F(SafeListTest, EntriesCoverTheirPageSiteOrDomain) {
  SafeList list;
  ASSERT_EQ(S_OK, list.Protect("http://w.alpha.test/", kDomain));
  ASSERT_EQ(S_OK, list.Protect("http://a.test:81/", kSite));
  ASSERT_EQ(S_OK, list.Protect("http://192.168.1.10/", kDomain));
  ASSERT_EQ(S_OK, list.Protect("http://p.test/x", kPage));
  const struct {
    const char* url;
    long code;
  } rows[] = {
      {"http://v.alpha.test/z", kProtectedByDomain},
      {"http://x.y.alpha.test/", kProtectedByDomain},
      {"http://ALPHA.test", kProtectedByDomain},
      {"https://v.alpha.test/z", kNotProtected},  // other kind and port
      {"http://v.alpha.test:8080/", kNotProtected},
      {"http://alpha.test.example/", kNotProtected},
      {"http://xalpha.test/", kNotProtected},  // ends with the name, no dot boundary
      {"http://a.test:81/any/page?q", kProtectedBySite},
      {"http://a.test/", kNotProtected},  // port 80
      {"http://10.0.1.10/", kProtectedByDomain},
      {"http://10.0.1.11/", kNotProtected},
      {"http://p.test/x/", kProtectedByPage},
      {"HTTP://P.TEST/X#frag", kProtectedByPage},
      {"http://user:pw@p.test:80/x?q", kProtectedByPage},
      {"http://p.test/x/y", kNotProtected},
      {"ftp://p.test/x", kNotProtected},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url);
    EXPECT_EQ(row.code, Code(list, row.url));
  }
}

TEST_F(SafeListTest, FirstMatchingEntryInListOrderDecides) {
  // Two hand-made entries that cover the same page; '/' sorts before ':'.
  AddEntrySubkey("http://a.test/x", kSite);
  AddEntrySubkey("http://a.test:80/x", kPage);
  SafeList site_first;
  LoadExpecting(&site_first, {{"http://a.test/x", kSite}, {"http://a.test:80/x", kPage}});
  EXPECT_EQ(kProtectedBySite, Code(site_first, "http://a.test/x"));

  AddEntrySubkey("http://a.test/x", kDomain);
  SafeList domain_first;
  LoadExpecting(&domain_first, {{"http://a.test/x", kDomain}, {"http://a.test:80/x", kPage}});
  EXPECT_EQ(kProtectedByDomain, Code(domain_first, "http://a.test/x"));
}

TEST_F(SafeListTest, IsProtectedReadsSeveralTypeBitsInOrder) {
  AddEntrySubkey("http://n.test/", 0);
  AddEntrySubkey("http://q.test/", 8);
  AddEntrySubkey("http://w.a.test/p", kPage | kSite);
  AddEntrySubkey("http://w.b.test/", kSite | kDomain);
  AddEntrySubkey("http://w.c.test/p", kPage | kDomain);
  SafeList list;
  ASSERT_EQ(S_OK, list.Load());
  const struct {
    const char* url;
    long code;
  } rows[] = {
      {"http://n.test/", kNotProtected},
      {"http://q.test/", kNotProtected},
      {"http://w.a.test/p", kProtectedByPage},
      {"http://w.a.test/q", kNotProtected},  // the page bit hides the site bit
      {"http://w.b.test/z", kProtectedBySite},
      {"http://v.b.test/", kProtectedByDomain},
      {"http://w.c.test/p", kProtectedByPage},
      {"http://w.c.test/q", kProtectedByDomain},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url);
    EXPECT_EQ(row.code, Code(list, row.url));
  }
}

TEST_F(SafeListTest, IsProtectedRejectsANullCode) {
  SafeList list;
  EXPECT_EQ(E_POINTER, list.IsProtected("http://a.test/", false, false, nullptr));
}

// --- Load ----------------------------------------------------------------

TEST_F(SafeListTest, LoadTakesHandMadeSubkeysAsTheyAre) {
  AddSubkey("junk");
  AddSubkey("http://novalue.test/");
  sandbox_.SetString(SubkeyPath("http://string.test/").c_str(), "", "2");
  const std::string binary_two("\x02\0\0", 3);  // 4 bytes with the NUL the helper adds
  sandbox_.SetString(SubkeyPath("http://binary.test/").c_str(), "", binary_two, REG_BINARY);
  AddSubkey("http://named.test/");
  sandbox_.SetDword(SubkeyPath("http://named.test/").c_str(), "Type", kDomain);
  AddEntrySubkey("http://site.test/", kSite);
  SafeList list;
  ASSERT_EQ(S_OK, list.Load());
  EXPECT_EQ((KeyList{{"http://binary.test/", kPage},
                     {"http://named.test/", kPage},
                     {"http://novalue.test/", kPage},
                     {"http://site.test/", kSite},
                     {"http://string.test/", kPage},
                     {"junk", kPage}}),
            Sorted(InListOrder(list)));

  const auto junk = std::find_if(list.entries().begin(), list.entries().end(),
                                 [](const SafeListEntry& entry) { return entry.key == "junk"; });
  ASSERT_NE(list.entries().end(), junk);
  EXPECT_EQ(kSchemeUnknown, junk->url.kind());
  EXPECT_EQ(0, junk->url.port());
  EXPECT_STREQ("", junk->url.scheme());
  EXPECT_STREQ("", junk->url.host());
  EXPECT_STREQ("", junk->url.path());
  EXPECT_EQ("", junk->url.domain());
  EXPECT_EQ(kProtectedByPage, Code(list, "about:"));
  EXPECT_EQ(kProtectedAsLocal, Code(list, "about:", true));
}

TEST_F(SafeListTest, JunkEntryTakesPartInProtectAndUnprotect) {
  AddSubkey("junk");
  SafeList list;
  ASSERT_EQ(S_OK, list.Load());
  EXPECT_EQ(S_OK, list.Protect("about:", kPage));  // covered by the junk entry
  EXPECT_EQ((KeyList{{"junk", kPage}}), InListOrder(list));
  EXPECT_EQ(S_OK, list.Unprotect("about:"));
  EXPECT_TRUE(list.entries().empty());
  EXPECT_FALSE(SubkeyExists("junk"));
  ExpectInStep(list);
}

TEST_F(SafeListTest, RestartedListLoadsWhatWasProtected) {
  SafeList first;
  ASSERT_EQ(S_OK, first.Protect("http://p.test/x/", kPage));
  ASSERT_EQ(S_OK, first.Protect("HTTP://Site.Test:81/", kSite));
  ASSERT_EQ(S_OK, first.Protect("http://w.alpha.test/", kDomain));
  ASSERT_EQ(S_OK, first.Protect("a.test:81/y", kPage));
  ASSERT_EQ(S_OK, first.Unprotect("http://p.test/x"));
  ASSERT_EQ(S_OK, first.Protect("gone.test/", kPage));

  SafeList restarted;
  ASSERT_EQ(S_OK, restarted.Load());
  ASSERT_EQ(Sorted(InListOrder(first)), Sorted(InListOrder(restarted)));
  for (const SafeListEntry& loaded : restarted.entries()) {
    SCOPED_TRACE(loaded.key);
    const auto original =
        std::find_if(first.entries().begin(), first.entries().end(),
                     [&](const SafeListEntry& entry) { return entry.key == loaded.key; });
    ASSERT_NE(first.entries().end(), original);
    EXPECT_TRUE(SamePage(original->url, loaded.url));
    EXPECT_EQ(original->url.domain(), loaded.url.domain());
    EXPECT_STREQ(original->url.host(), loaded.url.host());  // letter case kept
  }
  EXPECT_EQ(kProtectedBySite, Code(restarted, "http://site.test:81/page"));
  EXPECT_EQ(kProtectedByDomain, Code(restarted, "http://x.alpha.test/"));
}

TEST_F(SafeListTest, LoadReplacesTheListAndKeepsItOnFailure) {
  AddEntrySubkey("http://a.test/", kPage);
  SafeList list;
  ASSERT_EQ(S_OK, list.Load());
  ASSERT_EQ(S_OK, list.Load());
  EXPECT_EQ((KeyList{{"http://a.test/", kPage}}), InListOrder(list));

  DeleteSafeListKey();
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), list.Load());
  EXPECT_EQ((KeyList{{"http://a.test/", kPage}}), InListOrder(list));
}

// --- Failures ----------------------------------------------------------------

TEST_F(SafeListTest, MissingSafeListKeyFailsEveryChangeAndCreatesNothing) {
  SafeList list;
  ASSERT_EQ(S_OK, list.Protect("http://a.test/", kSite));
  DeleteSafeListKey();
  const HRESULT not_found = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(not_found, list.Protect("http://b.test/", kPage));
  EXPECT_EQ(not_found, list.Protect("http://a.test/x", kPage));  // would replace the site
  EXPECT_EQ(not_found, list.Unprotect("http://a.test/"));
  EXPECT_EQ((KeyList{{"http://a.test/", kSite}}), InListOrder(list));
  EXPECT_FALSE(sandbox_.KeyExists(kSafeListKeyPath));
  EXPECT_EQ(kProtectedBySite, Code(list, "http://a.test/"));
}

TEST_F(SafeListTest, KeyTextThatCannotBeOneSubkeyIsRejected) {
  SafeList list;
  ASSERT_EQ(S_OK, list.Protect("http://a.test/", kSite));
  const std::string at_limit = "http://l.test/" + std::string(255 - 14, 'p');
  const std::string prefixed_at_limit = "c.test/" + std::string(255 - 14, 'p');
  const struct {
    std::string url;
    HRESULT status;
  } rows[] = {
      {"http://a.test/d\\e", E_INVALIDARG},      // would replace the site entry
      {"http:\\\\a.test\\x", E_INVALIDARG},      // would nest under "http:"
      {at_limit + "p", E_INVALIDARG},            // 256 characters
      {prefixed_at_limit + "p", E_INVALIDARG},   // 256 with the prefix
      {"http://" + std::string(300, 'h'), E_INVALIDARG},  // retried, still too long
      {at_limit, S_OK},
      {prefixed_at_limit, S_OK},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE("length " + std::to_string(row.url.size()) + " '" + row.url.substr(0, 24) + "'");
    const KeyList before = InListOrder(list);
    EXPECT_EQ(row.status, list.Protect(row.url, kPage));
    if (FAILED(row.status)) {
      EXPECT_EQ(before, InListOrder(list));
    }
    ExpectInStep(list);
  }
  EXPECT_FALSE(sandbox_.KeyExists(SubkeyPath("http:").c_str()));
  EXPECT_EQ((KeyList{{"http://a.test/", kSite},
                     {at_limit, kPage},
                     {"http://" + prefixed_at_limit, kPage}}),
            InListOrder(list));
}

TEST_F(SafeListTest, ProtectRejectsATypeThatIsNotOneEntryType) {
  SafeList list;
  ASSERT_EQ(S_OK, list.Protect("http://a.test/x", kPage));
  EXPECT_EQ(E_INVALIDARG, list.Protect("http://a.test/", static_cast<EntryType>(kPage | kSite)));
  EXPECT_EQ(E_INVALIDARG, list.Protect("http://a.test/", static_cast<EntryType>(0)));
  EXPECT_EQ((KeyList{{"http://a.test/x", kPage}}), InListOrder(list));
  ExpectInStep(list);
}

// RegDeleteKey refuses a key that has subkeys of its own (ERROR_ACCESS_DENIED).
TEST_F(SafeListTest, UndeletableSubkeyStopsProtectWithBothSidesAgreeing) {
  AddEntrySubkey("http://nested.test/a", kPage);
  AddEntrySubkey("http://nested.test/x", kPage);
  AddSubkey("http://nested.test/x\\child");
  SafeList list;
  LoadExpecting(&list, {{"http://nested.test/a", kPage}, {"http://nested.test/x", kPage}});
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), list.Protect("http://nested.test/", kSite));
  EXPECT_EQ((KeyList{{"http://nested.test/x", kPage}}), InListOrder(list));
  EXPECT_FALSE(SubkeyExists("http://nested.test/a"));
  EXPECT_FALSE(SubkeyExists("http://nested.test/"));
  ExpectInStep(list);
}

TEST_F(SafeListTest, UndeletableSubkeyStopsUnprotectWithBothSidesAgreeing) {
  AddEntrySubkey("http://nested.test/", kSite);
  AddEntrySubkey("http://nested.test/p", kPage);
  AddSubkey("http://nested.test/p\\child");
  AddEntrySubkey("http://test/", kDomain);  // domain "nested.test" is not "test"
  AddEntrySubkey("http://z.nested.test/", kDomain);
  SafeList list;
  LoadExpecting(&list, {{"http://nested.test/", kSite},
                        {"http://nested.test/p", kPage},
                        {"http://test/", kDomain},
                        {"http://z.nested.test/", kDomain}});
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), list.Unprotect("http://nested.test/p"));
  EXPECT_EQ((KeyList{{"http://nested.test/p", kPage},
                     {"http://test/", kDomain},
                     {"http://z.nested.test/", kDomain}}),
            InListOrder(list));
  ExpectInStep(list);
}

TEST_F(SafeListTest, SubkeyAlreadyGoneCountsAsDeleted) {
  AddEntrySubkey("http://gone.test/", kPage);
  AddEntrySubkey("http://gone.test/x", kPage);
  SafeList list;
  ASSERT_EQ(S_OK, list.Load());
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(sandbox_.root(), SubkeyPath("http://gone.test/").c_str()));
  ASSERT_EQ(ERROR_SUCCESS,
            RegDeleteKeyA(sandbox_.root(), SubkeyPath("http://gone.test/x").c_str()));
  EXPECT_EQ(S_OK, list.Unprotect("http://gone.test/"));
  EXPECT_EQ(S_OK, list.Protect("http://gone.test/y", kSite));
  EXPECT_EQ((KeyList{{"http://gone.test/y", kSite}}), InListOrder(list));
  ExpectInStep(list);
}

// A volatile SafeList key refuses the non-volatile subkey of a new entry.
TEST_F(SafeListTest, FailedSubkeyCreationAddsNothing) {
  DeleteSafeListKey();
  HKEY volatile_list = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExA(sandbox_.root(), kSafeListKeyPath, 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &volatile_list, nullptr));
  HKEY volatile_entry = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExA(volatile_list, "http://v.test/x", 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &volatile_entry, nullptr));
  const DWORD page = kPage;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(volatile_entry, nullptr, 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&page), sizeof(page)));
  RegCloseKey(volatile_entry);
  RegCloseKey(volatile_list);

  SafeList list;
  LoadExpecting(&list, {{"http://v.test/x", kPage}});
  // The overlapping page goes first, then the new site cannot be stored.
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE),
            list.Protect("http://v.test/", kSite));
  EXPECT_TRUE(list.entries().empty());
  EXPECT_FALSE(SubkeyExists("http://v.test/x"));
  EXPECT_FALSE(SubkeyExists("http://v.test/"));
  ExpectInStep(list);
}

// Full-width 'a' and 'A' (Shift-JIS 0x82 0x81 and 0x82 0x60) are different
// pages to the list but one subkey name to the registry. Runs only under a
// double-byte ANSI code page (for instance LANG=ja_JP.UTF-8 under Wine).
TEST_F(SafeListTest, DoubleByteLettersInTwoCasesShareOneSubkey) {
  if (!IsLeadByte(0x82)) GTEST_SKIP() << "the ANSI code page has no double-byte characters";
  SafeList list;
  ASSERT_EQ(S_OK, list.Protect("http://a.test/\x82\x81", kPage));
  ASSERT_EQ(S_OK, list.Protect("http://a.test/\x82\x60", kPage));
  EXPECT_EQ((KeyList{{"http://a.test/\x82\x60", kPage}}), InListOrder(list));
  ExpectInStep(list);
}

// --- Comparisons ----------------------------------------------------------------

TEST(UrlCompareTest, PageSiteAndDomainTable) {
  const struct {
    const char* a;
    const char* b;
    bool page;
    bool site;
    bool domain;
  } rows[] = {
      {"http://a.test", "HTTP://A.TEST/", true, true, true},
      {"http://a.test/x?q", "http://a.test/x#f", true, true, true},
      {"http://u:p@a.test/x", "http://a.test/x", true, true, true},
      {"http://a.test/X", "http://a.test/x", true, true, true},
      {"http://a.test/x/", "http://a.test/x", true, true, true},
      {"http://a.test/x\\", "http://a.test/x/", true, true, true},
      {"http://a.test:80/x", "http://a.test/x", true, true, true},
      {"foo://a.test/", "bar://a.test/", true, true, true},
      {"http://a.test/x", "http://a.test/y", false, true, true},
      {"http://a.test/x//", "http://a.test/x", false, true, true},
      {"http://a.test/x", "http://a.test/x/y", false, true, true},
      {"http://w.alpha.test/", "http://x.y.alpha.test/", false, false, true},
      {"http://a.test/x", "http://a.test:81/x", false, false, false},
      {"http://a.test/", "https://a.test/", false, false, false},
      {"http://a.test:443/", "https://a.test/", false, false, false},
      {"http://alpha.test/", "http://alpha.test.example/", false, false, false},
      {"http://xa.test/", "http://a.test/", false, false, false},
      {"http://a.test/", "http://a.tes/", false, false, false},
      {"http://a.test/x", "http://a.test/xy", false, true, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.a) + " vs " + row.b);
    ListedUrl a;
    ListedUrl b;
    ASSERT_TRUE(a.DecomposeListed(row.a));
    ASSERT_TRUE(b.DecomposeListed(row.b));
    EXPECT_EQ(row.page, SamePage(a, b));
    EXPECT_EQ(row.page, SamePage(b, a));
    EXPECT_EQ(row.site, SameSite(a, b));
    EXPECT_EQ(row.site, SameSite(b, a));
    EXPECT_EQ(row.domain, SameDomain(a, b));
    EXPECT_EQ(row.domain, SameDomain(b, a));
  }
}

// In Shift-JIS 0x83 0x41 and 0x83 0x61 are two different katakana; upper-casing
// the trail byte alone would make them equal. Runs only under a double-byte
// ANSI code page (for instance LANG=ja_JP.UTF-8 under Wine).
TEST(UrlCompareTest, DoubleByteCharacterComparesAsOneUnit) {
  if (!IsLeadByte(0x83)) GTEST_SKIP() << "the ANSI code page has no double-byte characters";
  ListedUrl a;
  ListedUrl b;
  ListedUrl c;
  ASSERT_TRUE(a.DecomposeListed("http://a.test/\x83\x41"));
  ASSERT_TRUE(b.DecomposeListed("http://a.test/\x83\x61"));
  ASSERT_TRUE(c.DecomposeListed("http://A.TEST/\x83\x41"));
  EXPECT_FALSE(SamePage(a, b));
  EXPECT_TRUE(SamePage(a, c));
}

}  // namespace
}  // namespace zelk
