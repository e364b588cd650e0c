#include "tools/zelkctl/entry_checks.h"

#include "platform/text.h"
#include "safelist/entry_rules.h"
#include "safelist/safe_list.h"
#include "tools/zelkctl/console.h"

namespace zelk {
namespace ctl {

namespace {

std::wstring CodePageName() { return L"code page " + std::to_wstring(GetACP()); }

// The narrow text the server makes of `text`; false when it is not the same
// text (a character became the default character).
bool HeldInCodePage(const std::wstring& text, std::string* narrow) {
  bool exact = false;
  return SUCCEEDED(NarrowFromWide(text.c_str(), narrow, &exact)) && exact;
}

// The key's URL as the server decomposes a stored entry; false when it does
// not decompose (such an entry matches nothing).
bool DecomposeKey(const std::wstring& key, std::string* narrow, ListedUrl* url) {
  HeldInCodePage(key, narrow);
  return url->DecomposeListed(narrow->c_str(), IsLeadByte);
}

}  // namespace

std::wstring WhyServerRefuses(const std::wstring& url) {
  std::string narrow;
  if (!HeldInCodePage(url, &narrow)) return L"the URL cannot be held in " + CodePageName();
  if (url.find(L'\\') != std::wstring::npos) {
    return L"the URL holds a '\\', which a registry name cannot";
  }
  if (url.size() > kMaxKeyTextCharacters) {
    return L"the URL is longer than " + std::to_wstring(kMaxKeyTextCharacters) + L" characters";
  }
  std::string key;
  ListedUrl parts;
  if (FAILED(KeyTextToProtect(narrow, &key, &parts))) {
    return L"the server cannot store the URL: it is no URL, or with \"http://\" in front it is "
           L"longer than " + std::to_wstring(kMaxKeyTextCharacters) + L" characters";
  }
  return std::wstring();
}

std::wstring WhyNotRestorable(const TypedEntry& entry) {
  if (EntryKindOfType(entry.type) == nullptr) {
    return L"its stored type " + std::to_wstring(entry.type) +
           L" is none of page (1), site (2) and domain (4), the only types the server makes";
  }
  std::string narrow;
  if (!HeldInCodePage(entry.key, &narrow)) return L"its name cannot be held in " + CodePageName();
  std::string key;
  ListedUrl parts;
  if (FAILED(KeyTextToProtect(narrow, &key, &parts))) return L"the server would refuse its name";
  if (key != narrow) return L"the server would store it as \"" + Visible(L"http://" + entry.key) + L"\"";
  return std::wstring();
}

bool UnprotectRemoves(const TypedEntry& url_entry, const TypedEntry& other) {
  std::string url_text, other_text;
  ListedUrl url, other_url;
  return DecomposeKey(url_entry.key, &url_text, &url) &&
         DecomposeKey(other.key, &other_text, &other_url) &&
         UnprotectMatches(other.type, other_url.view(), url.view());
}

}  // namespace ctl
}  // namespace zelk
