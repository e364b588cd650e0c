#include "tools/zelkctl/entry_checks.h"

#include "platform/text.h"
#include "safelist/entry_line.h"
#include "safelist/entry_rules.h"
#include "safelist/safe_list.h"
#include "tools/zelkctl/console.h"

namespace zelk {
namespace ctl {

namespace {

// The key's URL as the server decomposes a stored entry; false when it does
// not decompose (such an entry matches nothing).
bool DecomposeKey(const std::wstring& key, std::string* narrow, ListedUrl* url) {
  HeldInCodePage(key, narrow);
  return url->DecomposeListed(narrow->c_str(), IsLeadByte);
}

}  // namespace

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
