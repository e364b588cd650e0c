#include "tools/zelkctl/safe_list_file.h"

#include "platform/status.h"
#include "tools/zelkctl/arguments.h"
#include "tools/zelkctl/console.h"
#include "tools/zelkctl/utf8_file.h"

namespace zelk {
namespace ctl {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr wchar_t kBlanks[] = L" \t\r";
constexpr wchar_t kTypePrefix[] = L"type=";

bool IsControl(wchar_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring Trimmed(const std::wstring& text) {
  const size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::wstring::npos) return std::wstring();
  return text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1);
}

bool StartsWithTypeNumber(const std::wstring& word) {
  return word.size() >= 5 && EqualsIgnoringCase(word.substr(0, 5), kTypePrefix);
}

size_t FirstControl(const std::wstring& text) {
  for (size_t index = 0; index < text.size(); ++index) {
    if (IsControl(text[index])) return index;
  }
  return std::wstring::npos;
}

// Why the trimmed, non-comment `text` is not an entry line; empty when it is,
// with *line filled in.
std::wstring ReadEntryLine(const std::wstring& text, ImportLine* line) {
  const size_t word_end = text.find_first_of(L" \t");
  const std::wstring word = text.substr(0, word_end);
  const std::wstring url =
      word_end == std::wstring::npos ? std::wstring() : Trimmed(text.substr(word_end));
  if (StartsWithTypeNumber(word)) {
    return L"\"" + Visible(word) +
           L"\" entries cannot be imported: the server makes only page, site and domain entries";
  }
  line->kind = EntryKindNamed(word);
  if (line->kind == nullptr) {
    return L"unknown entry type \"" + Visible(word) + L"\"; a line is \"page URL\", \"site URL\" "
           L"or \"domain URL\"";
  }
  if (url.empty()) return L"no URL after \"" + word + L"\"";
  const size_t control = FirstControl(url);
  if (control != std::wstring::npos) {
    return L"the URL holds the control character " + Visible(url.substr(control, 1));
  }
  line->url = url;
  return std::wstring();
}

}  // namespace

std::wstring EntryLine(const TypedEntry& entry) {
  const EntryKind* kind = EntryKindOfType(entry.type);
  const std::wstring word =
      kind != nullptr ? std::wstring(kind->word) : kTypePrefix + std::to_wstring(entry.type);
  return word + L" " + entry.key;
}

std::wstring WhyNotOnOneLine(const std::wstring& key) {
  const size_t control = FirstControl(key);
  if (control != std::wstring::npos) {
    return L"it holds the control character " + Visible(key.substr(control, 1));
  }
  if (key.empty()) return L"it is empty";
  if (IsBlank(key.front()) || IsBlank(key.back())) return L"it begins or ends with a blank";
  return std::wstring();
}

std::wstring SafeListFileText(const std::vector<TypedEntry>& entries) {
  std::wstring text = L"# zelkctl safe list, " + std::to_wstring(entries.size()) + L" entries\n";
  for (const TypedEntry& entry : entries) text += EntryLine(entry) + L"\n";
  return text;
}

HRESULT ParseSafeListFile(const std::string& bytes, std::vector<ImportLine>* lines,
                          std::vector<LineError>* errors) {
  size_t start = bytes.compare(0, 3, kByteOrderMark) == 0 ? 3 : 0;
  for (size_t number = 1; start < bytes.size(); ++number) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::wstring text;
    const HRESULT status = WideFromUtf8(bytes.substr(start, end - start), &text);
    start = end + 1;
    if (status == E_OUTOFMEMORY) return status;
    if (FAILED(status)) {
      errors->push_back({number, L"not UTF-8 text"});
      continue;
    }
    text = Trimmed(text);
    if (text.empty() || text[0] == L'#') continue;
    ImportLine line = {number, nullptr, std::wstring()};
    std::wstring reason = ReadEntryLine(text, &line);
    if (reason.empty()) {
      lines->push_back(std::move(line));
    } else {
      errors->push_back({number, std::move(reason)});
    }
  }
  return S_OK;
}

}  // namespace ctl
}  // namespace zelk
