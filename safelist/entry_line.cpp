#include "safelist/entry_line.h"

#include <windows.h>

#include "platform/text.h"
#include "safelist/entry_rules.h"
#include "safelist/safe_list.h"

namespace zelk {

namespace {

constexpr wchar_t kBlanks[] = L" \t\r";
constexpr char kTypePrefix[] = "type=";
constexpr wchar_t kHexDigits[] = L"0123456789ABCDEF";

// Each word in both forms: narrow for the comparison, wide for messages and lines.
struct EntryWord {
  uint32_t type;
  const char* word;
  const wchar_t* wideWord;
};

constexpr EntryWord kEntryWords[] = {
    {kPage, "page", L"page"}, {kSite, "site", L"site"}, {kDomain, "domain", L"domain"}};

bool StartsWithTypeNumber(const std::wstring& word) {
  std::string narrow;
  const size_t length = sizeof(kTypePrefix) - 1;
  return word.size() >= length && HeldInCodePage(word.substr(0, length), &narrow) &&
         EqualsIgnoringCase(narrow, kTypePrefix);
}

}  // namespace

std::wstring CodePageName() { return L"code page " + std::to_wstring(GetACP()); }

bool HeldInCodePage(const std::wstring& text, std::string* narrow) {
  bool exact = false;
  return SUCCEEDED(NarrowFromWide(text.c_str(), narrow, &exact)) && exact;
}

// Words are compared in their narrow form, by the one case-insensitive
// comparison; a word the code page cannot hold names nothing.
uint32_t EntryTypeNamed(const std::wstring& word) {
  std::string narrow;
  if (!HeldInCodePage(word, &narrow)) return 0;
  for (const EntryWord& entry_word : kEntryWords) {
    if (EqualsIgnoringCase(narrow, entry_word.word)) return entry_word.type;
  }
  return 0;
}

const wchar_t* EntryTypeWord(uint32_t type) {
  for (const EntryWord& entry_word : kEntryWords) {
    if (entry_word.type == type) return entry_word.wideWord;
  }
  return nullptr;
}

std::wstring VisibleText(const std::wstring& text) {
  std::wstring visible;
  visible.reserve(text.size());
  for (wchar_t c : text) {
    if (IsLineControl(c)) {
      visible += L"\\x";
      visible.push_back(kHexDigits[(c >> 4) & 0xF]);
      visible.push_back(kHexDigits[c & 0xF]);
    } else {
      visible.push_back(c);
    }
  }
  return visible;
}

bool IsLineBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool IsLineControl(wchar_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

std::wstring TrimmedLine(const std::wstring& text) {
  const size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::wstring::npos) return std::wstring();
  return text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1);
}

size_t CommentStart(const std::wstring& text) {
  for (size_t index = 1; index < text.size(); ++index) {
    if (text[index] == L'#' && IsLineBlank(text[index - 1])) return index;
  }
  return std::wstring::npos;
}

size_t FirstControl(const std::wstring& text) {
  for (size_t index = 0; index < text.size(); ++index) {
    if (IsLineControl(text[index])) return index;
  }
  return std::wstring::npos;
}

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

std::wstring WhyNotEntryLine(const std::wstring& text, ParsedEntryLine* line) {
  const size_t word_end = text.find_first_of(L" \t");
  const std::wstring word = text.substr(0, word_end);
  const std::wstring rest = word_end == std::wstring::npos ? std::wstring() : text.substr(word_end);
  const std::wstring url = TrimmedLine(rest.substr(0, CommentStart(rest)));
  if (StartsWithTypeNumber(word)) {
    return L"\"" + VisibleText(word) +
           L"\" entries cannot be imported: the server makes only page, site and domain entries";
  }
  const uint32_t type = EntryTypeNamed(word);
  if (type == 0) {
    return L"unknown entry type \"" + VisibleText(word) + L"\"; a line is \"page URL\", "
           L"\"site URL\" or \"domain URL\"";
  }
  if (url.empty()) return L"no URL after \"" + word + L"\"";
  const size_t control = FirstControl(url);
  if (control != std::wstring::npos) {
    return L"the URL holds the control character " + VisibleText(url.substr(control, 1));
  }
  std::wstring refused = WhyServerRefuses(url);
  if (!refused.empty()) return refused;
  line->type = type;
  line->url = url;
  return std::wstring();
}

}  // namespace zelk
