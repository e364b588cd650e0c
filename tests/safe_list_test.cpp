// The safe list against the real registry, redirected to a scratch key: after every
// operation, whatever its result, a list loaded afresh must hold what memory holds.
#include "safelist/safe_list.h"

#include <windows.h>

#include <algorithm>
#include <sstream>

#include "gtest/gtest.h"
#include "platform/text.h"
#include "tests/registry_sandbox.h"

namespace zelk {
namespace {

using KeyList = std::vector<std::pair<std::string, uint32_t>>;
constexpr char kRejected[] = "rejected";

// "PS http://a/ - junk" -> {{"http://a/", kPage | kSite}, {"junk", 0}}.
KeyList Parse(const std::string& text) {
  KeyList keys;
  std::istringstream in(text);
  for (std::string type, key; in >> type >> key;) {
    uint32_t bits = 0;
    for (const char c : type) bits |= c == 'P' ? kPage : c == 'S' ? kSite : c == 'D' ? kDomain : 0u;
    keys.emplace_back(key, bits);
  }
  return keys;
}

KeyList Keys(const SafeList& list, bool sorted = false) {
  KeyList keys;
  for (const SafeListEntry& entry : list.entries()) keys.emplace_back(entry.key, entry.type);
  if (sorted) std::sort(keys.begin(), keys.end());
  return keys;
}

std::string SubkeyPath(const std::string& key) { return kSafeListKeyPath + ("\\" + key); }

class SafeListTest : public ::testing::Test {
 protected:
  void SetUp() override { sandbox_.CreateSettingsKey(); }

  // Makes these the registry's only subkeys and loads them, in this (sorted) order.
  void LoadFresh(SafeList* list, const std::string& entries) const {
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(sandbox_.root(), kSafeListKeyPath));
    sandbox_.CreateSettingsKey();
    for (const auto& entry : Parse(entries)) {
      sandbox_.SetDword(SubkeyPath(entry.first).c_str(), "", entry.second);
    }
    ASSERT_EQ(S_OK, list->Load());
    ASSERT_EQ(Parse(entries), Keys(*list)) << "registry enumeration order";
  }

  void ExpectInStep(const SafeList& list) const {
    SafeList reloaded;
    ASSERT_EQ(S_OK, reloaded.Load());
    EXPECT_EQ(Keys(list, true), Keys(reloaded, true)) << "memory and registry disagree";
  }

  long Code(const SafeList& list, const char* url, bool local = false, bool https = false) const {
    long code = 0x5eed;
    EXPECT_EQ(S_OK, list.IsProtected(url, local, https, &code)) << url;
    return code;
  }

  testing::RegistrySandbox sandbox_;
};

// Rows: subkeys loaded, the one Protect, the list after it (kRejected: E_INVALIDARG,
// nothing changed, for a key that cannot be one subkey or a type not one EntryType).
TEST_F(SafeListTest, ProtectReplacesOverlapsOfOtherTypesAndStopsAtCoveringOnes) {
  const std::string at_limit = "http://l.test/" + std::string(241, 'p');  // 255 characters
  const std::string prefixed = "c.test/" + std::string(241, 'p');         // 255 with "http://"
  const struct { std::string loaded, added, after; } rows[] = {
      {"", "P a.test/x", "P http://a.test/x"},  // "http://" added when needed
      {"P http://a.test/x", "P http://A.TEST/x/?q", "P http://a.test/x"},
      {"P http://a.test/x", "P http://a.test/y", "P http://a.test/x P http://a.test/y"},
      {"P http://a.test/x", "S http://a.test/y", "S http://a.test/y"},
      {"P http://w.alpha.test/x", "D http://v.alpha.test/", "D http://v.alpha.test/"},
      {"S http://a.test/x", "P http://a.test/y", "P http://a.test/y"},
      {"S http://a.test/", "S http://A.test/z", "S http://a.test/"},
      {"S http://a.test/", "D http://b.a.test/", "D http://b.a.test/"},
      {"S http://w.a.test/", "D https://w.a.test/", "S http://w.a.test/ D https://w.a.test/"},
      {"D http://v.alpha.test/", "P http://w.alpha.test/x", "P http://w.alpha.test/x"},
      {"D http://v.alpha.test/", "S http://x.y.alpha.test/", "S http://x.y.alpha.test/"},
      {"D http://v.alpha.test/", "D http://alpha.test/", "D http://v.alpha.test/"},
      {"P about:blank", "S foo:blank", "S foo:blank"},  // unknown schemes are one kind
      // every overlap goes, the others keep their order; removals before a covering entry stand
      {"P http://a/1 P http://a/2 S http://b/ P http://c/", "S http://a/",
       "S http://b/ P http://c/ S http://a/"},
      {"P http://a.test/x S http://a.test:80/", "S http://a.test/q", "S http://a.test:80/"},
      // loaded type bits: the page bit hides the site bit, the domain bit comes after
      {"PS http://w.a.test/p", "P http://w.a.test/p", "PS http://w.a.test/p"},
      {"PS http://w.a.test/p", "P http://w.a.test/q", "PS http://w.a.test/p P http://w.a.test/q"},
      {"PD http://w.a.test/p", "P http://w.a.test/q", "P http://w.a.test/q"},
      {"- http://w.a.test/p", "D HTTP://W.A.TEST/P", "D HTTP://W.A.TEST/P"},  // one subkey
      {"S http://a.test/", "P http://a.test/d\\e", kRejected},  // would replace the site
      {"", "P http:\\\\a.test\\x", kRejected},                // would nest under "http:"
      {"", "P " + at_limit + "p", kRejected},  {"", "P " + prefixed + "p", kRejected},
      {"", "P " + at_limit, "P " + at_limit},
      {"S http://a.test/", "PS http://a.test/x", kRejected},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.loaded + " + " + row.added.substr(0, 40));
    SafeList list;
    LoadFresh(&list, row.loaded);
    const auto added = Parse(row.added).front();
    const bool rejected = row.after == kRejected;
    EXPECT_EQ(rejected ? E_INVALIDARG : S_OK,
              list.Protect(added.first, static_cast<EntryType>(added.second)));
    EXPECT_EQ(Parse(rejected ? row.loaded : row.after), Keys(list));
    ExpectInStep(list);
  }
}

// Each entry is tested by its own type alone (a page by its page, even with the domain
// bit); no "http://" is added; a subkey already deleted by hand counts as deleted.
TEST_F(SafeListTest, UnprotectRemovesPageSiteAndDomainAtOnce) {
  SafeList list;
  LoadFresh(&list, "D http://a.test/ P http://o.test/ S http://w.a.test/ P http://w.a.test/o "
                   "P http://w.a.test/p PD http://x.a.test/q P https://w.a.test/p");
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(sandbox_.root(), SubkeyPath("http://w.a.test/").c_str()));
  EXPECT_EQ(E_INVALIDARG, list.Unprotect("w.a.test/p"));
  EXPECT_EQ(S_OK, list.Unprotect("http://w.a.test/p"));
  EXPECT_EQ(Parse("P http://o.test/ P http://w.a.test/o PD http://x.a.test/q P https://w.a.test/p"),
            Keys(list));
  ExpectInStep(list);
}

TEST_F(SafeListTest, IsProtectedTriesLocalThenHttpsThenTheFirstMatchInListOrder) {
  SafeList list;
  LoadFresh(&list, "S http://a.test/x P http://a.test:80/x D http://b.test/x P http://b.test:80/x "
                   "P http://p.test/x S http://s.test:81/ D http://w.alpha.test/ "
                   "PS http://w.c.test/p PD http://w.d.test/p S https://intranet/");
  const struct { const char* url; bool local; bool https; long code; } rows[] = {
      {"http://intranet/", true, false, kProtectedAsLocal},  // no '.' in the host
      {"file://host.test/x.htm", true, true, kProtectedAsLocal},  // a file URL is local
      {"https://intranet/x", true, true, kProtectedAsLocal},
      {"https://intranet/x", false, true, kProtectedAsHttps},
      {"https://intranet/x", false, false, kProtectedBySite},
      {"http://e.test/", true, true, kNotProtected},
      {"http://a.test/x", false, false, kProtectedBySite},    // before the page entry
      {"http://b.test/x", false, false, kProtectedByDomain},  // before the page entry
      {"http://v.alpha.test:8080/", false, false, kNotProtected},
      {"http://s.test:81/any/page?q", false, false, kProtectedBySite},
      {"http://user:pw@P.TEST:80/X\\#frag", false, false, kProtectedByPage},
      {"http://w.c.test/q", false, false, kNotProtected},
      {"http://w.d.test/q", false, false, kProtectedByDomain},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.url) + (row.local ? " local" : "") + (row.https ? " https" : ""));
    EXPECT_EQ(row.code, Code(list, row.url, row.local, row.https));
  }
  long code = 0x5eed;
  EXPECT_EQ(E_INVALIDARG, list.IsProtected("p.test/x", false, false, &code));  // no "http://"
  EXPECT_EQ(0x5eed, code);
  EXPECT_EQ(E_POINTER, list.IsProtected("http://p.test/x", false, false, nullptr));
}

// A name that does not decompose, or a default value that is missing or not a REG_DWORD,
// still loads, as a Page entry.
TEST_F(SafeListTest, LoadTakesHandMadeSubkeysAsTheyAre) {
  sandbox_.SetString(SubkeyPath("http://s.test/").c_str(), "", "2");
  sandbox_.SetString(SubkeyPath("http://b/").c_str(), "", std::string("\x02\0\0", 3), REG_BINARY);
  sandbox_.SetDword(SubkeyPath("junk").c_str(), "Type", kSite);  // a named value only
  SafeList list;
  ASSERT_EQ(S_OK, list.Load());
  ASSERT_EQ(S_OK, list.Load());  // replaces the list, does not add to it
  EXPECT_EQ(Parse("P http://b/ P http://s.test/ P junk"), Keys(list));
  EXPECT_EQ(kProtectedByPage, Code(list, "about:"));  // junk's url is reset: it matches
  EXPECT_EQ(S_OK, list.Unprotect("about:"));
  EXPECT_EQ(Parse("P http://b/ P http://s.test/"), Keys(list));
  ExpectInStep(list);
}

// A subkey with a child cannot be deleted, a volatile key refuses a non-volatile subkey, a
// missing SafeList key fails every change: removals before a failure stand, nothing else.
TEST_F(SafeListTest, FailurePartWayLeavesMemoryAndRegistryAgreeing) {
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(sandbox_.root(), kSafeListKeyPath));
  for (const char* key : {"http://v.test/a", "http://v.test/b\\child"}) {  // SafeList too
    HKEY created = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(sandbox_.root(), SubkeyPath(key).c_str(), 0, nullptr,
                                             REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &created,
                                             nullptr));
    RegCloseKey(created);
  }
  SafeList list;
  ASSERT_EQ(S_OK, list.Load());
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), list.Protect("http://v.test/", kSite));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), list.Unprotect("http://v.test/b"));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE),
            list.Protect("http://w.test/", kSite));
  EXPECT_EQ(Parse("P http://v.test/b"), Keys(list));
  ExpectInStep(list);
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(sandbox_.root(), kSafeListKeyPath));
  const HRESULT not_found = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(not_found, list.Protect("http://v.test/", kSite));  // would replace the page
  EXPECT_EQ(not_found, list.Unprotect("http://v.test/b"));
  EXPECT_EQ(not_found, list.Load());
  EXPECT_EQ(Parse("P http://v.test/b"), Keys(list));
  EXPECT_FALSE(sandbox_.KeyExists(kSafeListKeyPath));
  EXPECT_EQ(kProtectedByPage, Code(list, "http://v.test/b"));  // answered from memory
}

// Under a double-byte code page (LANG=ja_JP.UTF-8 under Wine): full-width 'a' and 'A'
// (82 81, 82 60) are two pages but one subkey; 83 41 and 83 61 are two katakana.
TEST_F(SafeListTest, DoubleByteCharactersAreOneUnit) {
  if (!IsLeadByte(0x82)) GTEST_SKIP() << "the ANSI code page has no double-byte characters";
  SafeList list;
  ASSERT_EQ(S_OK, list.Protect("http://a.test/\x82\x81\x83\x41", kPage));
  ASSERT_EQ(S_OK, list.Protect("http://a.test/\x82\x60\x83\x41", kPage));
  EXPECT_EQ(Parse("P http://a.test/\x82\x60\x83\x41"), Keys(list));
  EXPECT_EQ(kProtectedByPage, Code(list, "http://A.TEST/\x82\x60\x83\x41"));
  EXPECT_EQ(kNotProtected, Code(list, "http://a.test/\x82\x60\x83\x61"));
}

}  // namespace
}  // namespace zelk
