// The safe list against the real registry, redirected to a scratch key. The rule tables
// pin what each entry says about a URL; the differential test pins that the indexed list
// answers exactly as a plain walk over the list in order, after every operation, and
// that memory and registry agree. Runs again under code page 932 (safe_list_test_cp932).
#include "safelist/safe_list.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
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
  EXPECT_EQ(S_OK, list.ForEachEntry([&keys](const std::string& key, uint32_t type) {
    keys.emplace_back(key, type);
    return S_OK;
  }));
  EXPECT_EQ(keys.size(), list.size());
  if (sorted) std::sort(keys.begin(), keys.end());
  return keys;
}

std::string SubkeyPath(const std::string& key) { return kSafeListKeyPath + ("\\" + key); }

std::string Narrow(const std::wstring& wide) {
  std::string narrow;
  EXPECT_EQ(S_OK, NarrowFromWide(wide.c_str(), &narrow));
  return narrow;
}

std::wstring Widen(const std::string& narrow) {
  std::wstring wide;
  EXPECT_EQ(S_OK, WideFromNarrow(narrow.data(), narrow.size(), &wide));
  return wide;
}

class SafeListTest : public ::testing::Test {
 protected:
  void SetUp() override { sandbox_.CreateSettingsKey(); }

  void ClearRegistry() const {
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(sandbox_.root(), kSafeListKeyPath));
    sandbox_.CreateSettingsKey();
  }

  // Makes these the registry's only subkeys and loads them, in this (sorted) order.
  void LoadFresh(SafeList* list, const std::string& entries) const {
    ClearRegistry();
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

  void CreateSubkey(const std::wstring& name, const DWORD* type) const {
    HKEY key = nullptr;
    const std::wstring path = L"Software\\Zelk\\SafeList\\" + name;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(sandbox_.root(), path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    if (type != nullptr) {
      EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, nullptr, 0, REG_DWORD,
                                              reinterpret_cast<const BYTE*>(type), sizeof(*type)));
    }
    RegCloseKey(key);
  }

  testing::RegistrySandbox sandbox_;
};

// Rows: subkeys loaded, the one Protect, the list after it (kRejected: E_INVALIDARG,
// nothing changed, for a key that cannot be one subkey or a type not one EntryType).
TEST_F(SafeListTest, ProtectReplacesOverlapsOfOtherTypesAndStopsAtCoveringOnes) {
  const struct { std::string loaded, added, after; } rows[] = {
      {"", "P a.test/x", "P http://a.test/x"},  // "http://" added when needed
      {"P http://a.test/x", "S http://a.test/y", "S http://a.test/y"},
      {"P http://w.alpha.test/x", "D http://v.alpha.test/", "D http://v.alpha.test/"},
      {"S http://a.test/x", "P http://a.test/y", "P http://a.test/y"},
      {"S http://a.test/", "S http://A.test/z", "S http://a.test/"},
      {"S http://w.a.test/", "D https://w.a.test/", "S http://w.a.test/ D https://w.a.test/"},
      {"D http://v.alpha.test/", "S http://x.y.alpha.test/", "S http://x.y.alpha.test/"},
      {"D http://v.alpha.test/", "D http://alpha.test/", "D http://v.alpha.test/"},
      {"P about:blank", "S foo:blank", "S foo:blank"},  // unknown schemes are one kind
      {"P http://a.test/x S http://a.test:80/", "S http://a.test/q", "S http://a.test:80/"},
      // loaded type bits: the page bit hides the site bit, the domain bit comes after
      {"PS http://w.a.test/p", "P http://w.a.test/q", "PS http://w.a.test/p P http://w.a.test/q"},
      {"PD http://w.a.test/p", "P http://w.a.test/q", "P http://w.a.test/q"},
      {"- http://w.a.test/p", "D HTTP://W.A.TEST/P", "D HTTP://W.A.TEST/P"},  // one subkey
      // covered by a later entry: nothing is written, so the one that shares the name stays
      {"- http://a.test/x S http://a.test/z", "S HTTP://a.test/x", "- http://a.test/x S http://a.test/z"},
      {"S http://a.test/", "P http://a.test/d\\e", kRejected},  // would replace the site
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

// Under a double-byte code page: full-width 'a' and 'A' (82 81, 82 60) are two pages but
// one subkey; 83 41 and 83 61 are two katakana; the trail byte 40 of 89 40 is no '@'.
TEST_F(SafeListTest, DoubleByteCharactersAreOneUnit) {
  if (!IsLeadByte(0x82)) GTEST_SKIP() << "the ANSI code page has no double-byte characters";
  SafeList list;
  ASSERT_EQ(S_OK, list.Protect("http://a.test/\x82\x81\x83\x41", kPage));
  ASSERT_EQ(S_OK, list.Protect("http://a.test/\x82\x60\x83\x41", kPage));
  EXPECT_EQ(Parse("P http://a.test/\x82\x60\x83\x41"), Keys(list));
  EXPECT_EQ(kProtectedByPage, Code(list, "http://A.TEST/\x82\x60\x83\x41"));
  EXPECT_EQ(kNotProtected, Code(list, "http://a.test/\x82\x60\x83\x61"));
  ASSERT_EQ(S_OK, list.Protect("http://\x89\x40.example/", kSite));
  EXPECT_EQ(kNotProtected, Code(list, "http://\x8b\x40.example/other"));
  EXPECT_EQ(kProtectedBySite, Code(list, "http://\x89\x40.EXAMPLE/other"));
}

// The index keys on FoldCase: it must be equal exactly when the comparison says equal,
// over every pair of one-byte texts and over two-byte texts and their case variants.
TEST(CaseFoldingTest, FoldedFormsAreEqualExactlyWhenTextsCompareEqual) {
  const auto check = [](const std::string& a, const std::string& b) {
    const bool equal = EqualsIgnoringCase(a.data(), a.size(), b.data(), b.size());
    ASSERT_EQ(equal, FoldCase(a.data(), a.size()) == FoldCase(b.data(), b.size()))
        << std::hex << static_cast<unsigned>(static_cast<unsigned char>(a[0])) << " "
        << static_cast<unsigned>(static_cast<unsigned char>(b[0]));
    if (equal) {
      ASSERT_EQ(HashIgnoringCase(a.data(), a.size(), 7), HashIgnoringCase(b.data(), b.size(), 7));
    }
  };
  std::vector<std::vector<unsigned char>> same_upper(256);  // bytes by their upper case
  for (int c = 0; c < 256; ++c) same_upper[UpperChar(static_cast<unsigned char>(c))].push_back(c);
  for (int a = 1; a < 256; ++a) {
    for (int b = 1; b < 256; ++b) check(std::string(1, char(a)), std::string(1, char(b)));
  }
  std::mt19937 random(5);
  for (int i = 0; i < 200000; ++i) {
    std::string a(2, '\0'), b(2, '\0');
    for (int k = 0; k < 2; ++k) {
      a[k] = static_cast<char>(1 + random() % 255);
      const auto& variants = same_upper[UpperChar(static_cast<unsigned char>(a[k]))];
      b[k] = random() % 4 == 0 ? static_cast<char>(1 + random() % 255)
                                : static_cast<char>(variants[random() % variants.size()]);
    }
    check(a, b);
  }
}

// ---- The differential test: the indexed list against a plain walk ----

struct WalkEntry {
  std::wstring name;  // the subkey's real name
  std::string key;
  uint32_t type;
  std::shared_ptr<ListedUrl> url;
};

// The list as a plain walk over a vector, with the same per-entry rules.
class WalkList {
 public:
  std::vector<WalkEntry> entries;

  void Load(HKEY root) {
    entries.clear();
    HKEY list_key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, kSafeListKeyPath, 0, KEY_READ, &list_key));
    std::vector<wchar_t> name(32768);
    for (DWORD i = 0;; ++i) {
      DWORD length = static_cast<DWORD>(name.size());
      if (RegEnumKeyExW(list_key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      WalkEntry entry{std::wstring(name.data(), length), "", kPage, nullptr};
      entry.key = Narrow(entry.name);
      DWORD type = 0, size = sizeof(type);
      if (RegGetValueW(list_key, entry.name.c_str(), nullptr, RRF_RT_REG_DWORD, nullptr, &type,
                       &size) == ERROR_SUCCESS) {
        entry.type = type;
      }
      // A name that does not decompose leaves the url reset, as the list has it.
      entry.url = std::make_shared<ListedUrl>();
      static_cast<void>(entry.url->DecomposeListed(entry.key.c_str(), IsLeadByte));
      entries.push_back(entry);
    }
    RegCloseKey(list_key);
  }

  HRESULT Ask(const std::string& text, bool local, bool https, long* code) const {
    const auto url = Decomposed(text.c_str());
    if (url == nullptr) return E_INVALIDARG;
    *code = local && IsLocal(url->view()) ? kProtectedAsLocal
            : https && url->kind() == kSchemeHttps ? kProtectedAsHttps : kNotProtected;
    for (const WalkEntry& entry : entries) {
      if (*code != kNotProtected) break;
      *code = EntryCode(entry.type, entry.url->view(), url->view());
    }
    return S_OK;
  }

  HRESULT Protect(const std::string& text, uint32_t type) {
    std::string key = text;
    auto url = Decomposed(key.c_str());
    if (url == nullptr) url = Decomposed((key = "http://" + key).c_str());
    if (url == nullptr || !Storable(key)) return E_INVALIDARG;
    for (auto it = entries.begin(); it != entries.end();) {
      const Overlap overlap = OverlapWith(it->type, it->url->view(), type, url->view());
      if (overlap == Overlap::kCovered) return S_OK;
      it = overlap == Overlap::kReplaced ? entries.erase(it) : it + 1;
    }
    // Only an addition that is written takes the subkey of an entry that shares its name.
    const std::wstring name = Widen(key);
    entries.erase(std::remove_if(entries.begin(), entries.end(), [&](const WalkEntry& entry) {
                    bool same_name = false;
                    EXPECT_EQ(S_OK, SameKeyName(entry.name, name, &same_name));
                    return same_name;
                  }), entries.end());
    entries.push_back({name, key, type, url});
    return S_OK;
  }

  HRESULT Unprotect(const std::string& text) {
    const auto url = Decomposed(text.c_str());
    if (url == nullptr) return E_INVALIDARG;
    entries.erase(std::remove_if(entries.begin(), entries.end(), [&](const WalkEntry& entry) {
                    return UnprotectMatches(entry.type, entry.url->view(), url->view());
                  }), entries.end());
    return S_OK;
  }

  KeyList Keys() const {
    KeyList keys;
    for (const WalkEntry& entry : entries) keys.emplace_back(entry.key, entry.type);
    return keys;
  }
  // The real names and types, sorted: what the registry must hold.
  std::vector<std::pair<std::wstring, uint32_t>> Stored() const {
    std::vector<std::pair<std::wstring, uint32_t>> stored;
    for (const WalkEntry& entry : entries) stored.emplace_back(entry.name, entry.type);
    std::sort(stored.begin(), stored.end());
    return stored;
  }

 private:
  // Null when the text does not decompose.
  static std::shared_ptr<ListedUrl> Decomposed(const char* text) {
    auto url = std::make_shared<ListedUrl>();
    return url->DecomposeListed(text, IsLeadByte) ? url : nullptr;
  }
  static bool Storable(const std::string& key) {
    size_t characters = 0;
    for (const char* p = key.c_str(); *p != '\0'; p = NextChar(p)) {
      if ((*p == '\\' && NextChar(p) == p + 1) || ++characters > kMaxKeyTextCharacters) return false;
    }
    return true;
  }
};

// Random URLs over a few hosts, so that entries share hosts, domains, kinds and ports.
class UrlGenerator {
 public:
  explicit UrlGenerator(unsigned seed) : random_(seed) {
    if (IsLeadByte(0x82)) {  // double-byte hosts and a path ending in a trail 0x5C
      hosts_.insert(hosts_.end(), {"\x89\x40.example", "\x8b\x40.example", "w.\x82\x81.test",
                                   "w.\x82\x60.test", "x.\x95\x5c"});
      paths_.push_back("/\x95\x5c");
    } else {
      hosts_.insert(hosts_.end(), {"\xe9.test", "\xc9.TEST"});
    }
  }

  std::string Url() {
    if (Chance(20)) return Pick(odd_texts_);
    const std::string& scheme = Pick(schemes_);
    if (scheme == "file:") return "file:///C:/" + Pick(paths_);
    return scheme + Pick(hosts_) + Pick(ports_) + Pick(paths_) + (Chance(5) ? "?q#f" : "");
  }
  uint32_t ProtectType() { return 1u << (random_() % 3); }
  uint32_t LoadedType() { return Chance(3) ? random_() % 8 : ProtectType(); }
  bool Chance(unsigned one_in) { return random_() % one_in == 0; }
  unsigned Below(unsigned n) { return random_() % n; }

 private:
  const std::string& Pick(const std::vector<std::string>& from) {
    return from[random_() % from.size()];
  }

  std::mt19937 random_;
  std::vector<std::string> schemes_ = {"http://", "HTTP://", "https://", "ftp://", "foo://",
                                       "about:", "", "file:", "http://u:p@"};
  std::vector<std::string> hosts_ = {"a.test", "A.Test", "b.a.test", "w.alpha.test",
                                     "alpha.test", "x.y.alpha.test", "intranet", "",
                                     "192.168.1.10", "10.0.1.10", "a.-.-"};
  std::vector<std::string> ports_ = {"", "", ":80", ":81", ":"};
  std::vector<std::string> paths_ = {"", "/", "/x", "/X/", "/y", "/a\\"};
  // Texts that need "http://", reset urls, and keys that cannot be one subkey.
  std::vector<std::string> odd_texts_ = {"junk", "a.test/x", "", "about:", "http:\\\\a\\b",
                                         "mailto:u@a.test", "http://" + std::string(260, 'h'),
                                         "c.test/" + std::string(241, 'p'),
                                         "c.test/" + std::string(242, 'p')};
};

using SafeListWalkTest = SafeListTest;

TEST_F(SafeListWalkTest, IndexedListAnswersAsAPlainWalk) {
  const char* seed_text = std::getenv("ZELK_SAFE_LIST_SEED");
  const unsigned seed = seed_text != nullptr ? std::strtoul(seed_text, nullptr, 10) : 20261207u;
  UrlGenerator generate(seed);
  SafeList list;
  WalkList walk;
  for (int round = 0; round < 600; ++round) {
    SCOPED_TRACE("ZELK_SAFE_LIST_SEED=" + std::to_string(seed) + " round " + std::to_string(round));
    if (round % 4 == 0) {  // a hand-made registry: several type bits, case variants, foreign names
      ClearRegistry();
      for (unsigned n = generate.Below(12); n > 0; --n) {
        std::wstring name = Widen(generate.Url());
        name.erase(std::remove(name.begin(), name.end(), L'\\'), name.end());
        if (generate.Chance(8)) name += L"\x0e01";
        const DWORD type = generate.LoadedType();
        if (!name.empty() && name.size() <= kMaxKeyTextCharacters) {
          CreateSubkey(name, generate.Chance(8) ? nullptr : &type);
        }
      }
    }
    ASSERT_NO_FATAL_FAILURE(walk.Load(sandbox_.root()));
    ASSERT_EQ(S_OK, list.Load());
    ASSERT_EQ(walk.Keys(), Keys(list)) << "load";
    const int operations = generate.Chance(10) ? 300 : 20;
    for (int op = 0; op < operations; ++op) {
      const std::string url = generate.Url();
      SCOPED_TRACE("operation " + std::to_string(op) + " on " + url.substr(0, 40));
      const unsigned what = generate.Below(4);
      if (what == 0) {
        ASSERT_EQ(walk.Unprotect(url), list.Unprotect(url));
      } else if (what == 1) {
        const uint32_t type = generate.ProtectType();
        ASSERT_EQ(walk.Protect(url, type), list.Protect(url, static_cast<EntryType>(type)));
      } else {
        const bool local = generate.Chance(3), https = generate.Chance(3);
        long expected = -1, actual = -1;
        ASSERT_EQ(walk.Ask(url, local, https, &expected),
                  list.IsProtected(url.c_str(), local, https, &actual));
        ASSERT_EQ(expected, actual);
      }
      ASSERT_EQ(walk.Keys(), Keys(list));
    }
    WalkList stored;
    ASSERT_NO_FATAL_FAILURE(stored.Load(sandbox_.root()));
    ASSERT_EQ(walk.Stored(), stored.Stored()) << "memory and registry disagree";
  }
}

}  // namespace
}  // namespace zelk
