#include "tools/zelkctl/safe_list_file.h"

#include "platform/status.h"
#include "safelist/entry_line.h"
#include "tools/zelkctl/console.h"
#include "tools/zelkctl/utf8_file.h"

namespace zelk {
namespace ctl {

namespace {

constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";
constexpr char kUtf16LeByteOrderMark[] = "\xFF\xFE";
constexpr char kUtf16BeByteOrderMark[] = "\xFE\xFF";
constexpr wchar_t kTypePrefix[] = L"type=";

// Why the trimmed, non-comment `text` is not an entry line; empty when it is,
// with *line filled in. The words and checks are the server's own.
std::wstring ReadEntryLine(const std::wstring& text, ImportLine* line) {
  ParsedEntryLine entry;
  std::wstring reason = WhyNotEntryLine(text, &entry);
  if (!reason.empty()) return reason;
  line->kind = EntryKindOfType(entry.type);
  line->url = std::move(entry.url);
  return std::wstring();
}

// One line of the file as text, or why its bytes are no text.
struct TextLine {
  size_t number;
  bool decoded;
  std::wstring text;  // the line without its LF; the reason when not decoded
};

// UTF-16 text from its bytes, in either byte order; a last odd byte is lost
// and reported by the caller.
std::wstring WideFromUtf16(const std::string& bytes, size_t start, bool big_endian) {
  std::wstring text;
  text.reserve((bytes.size() - start) / 2);
  for (size_t index = start; index + 1 < bytes.size(); index += 2) {
    const unsigned char first = static_cast<unsigned char>(bytes[index]);
    const unsigned char second = static_cast<unsigned char>(bytes[index + 1]);
    text.push_back(static_cast<wchar_t>(big_endian ? first << 8 | second : second << 8 | first));
  }
  return text;
}

// A UTF-16 file, as PowerShell writes with '>': decoded whole, then split.
void SplitUtf16(const std::string& bytes, bool big_endian, std::vector<TextLine>* lines) {
  const std::wstring text = WideFromUtf16(bytes, 2, big_endian);
  size_t start = 0;
  for (size_t number = 1; start < text.size(); ++number) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    lines->push_back({number, true, text.substr(start, end - start)});
    start = end + 1;
  }
  if (bytes.size() % 2 != 0) {
    const size_t last = lines->empty() ? 1 : lines->back().number;
    if (!lines->empty()) lines->pop_back();
    lines->push_back({last, false, L"the file ends within a UTF-16 character"});
  }
}

// UTF-8, with or without its byte order mark: each line decoded by itself,
// so that one bad line is told by its number.
HRESULT SplitUtf8(const std::string& bytes, std::vector<TextLine>* lines) {
  size_t start = bytes.compare(0, 3, kUtf8ByteOrderMark) == 0 ? 3 : 0;
  for (size_t number = 1; start < bytes.size(); ++number) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    TextLine line = {number, true, std::wstring()};
    const HRESULT status = WideFromUtf8(bytes.substr(start, end - start), &line.text);
    start = end + 1;
    if (status == E_OUTOFMEMORY) return status;
    if (FAILED(status)) line = {number, false, L"not UTF-8 text"};
    lines->push_back(std::move(line));
  }
  return S_OK;
}

// The file's lines, by its byte order mark. May throw std::bad_alloc.
HRESULT SplitIntoLines(const std::string& bytes, std::vector<TextLine>* lines) {
  if (bytes.compare(0, 2, kUtf16LeByteOrderMark) == 0) {
    SplitUtf16(bytes, false, lines);
    return S_OK;
  }
  if (bytes.compare(0, 2, kUtf16BeByteOrderMark) == 0) {
    SplitUtf16(bytes, true, lines);
    return S_OK;
  }
  return SplitUtf8(bytes, lines);
}

}  // namespace

std::wstring EntryLine(const TypedEntry& entry) {
  const wchar_t* type_word = EntryTypeWord(entry.type);
  const std::wstring word =
      type_word != nullptr ? std::wstring(type_word) : kTypePrefix + std::to_wstring(entry.type);
  return word + L" " + entry.key;
}

std::wstring WhyNotOnOneLine(const std::wstring& key) {
  const size_t control = FirstControl(key);
  if (control != std::wstring::npos) {
    return L"it holds the control character " + Visible(key.substr(control, 1));
  }
  if (key.empty()) return L"it is empty";
  if (IsLineBlank(key.front()) || IsLineBlank(key.back())) return L"it begins or ends with a blank";
  if (CommentStart(key) != std::wstring::npos) {
    return L"it holds a '#' after a blank, which a line reads as the start of a comment";
  }
  return std::wstring();
}

std::wstring SafeListFileText(const std::vector<TypedEntry>& entries) {
  std::wstring text = L"# zelkctl safe list, " + std::to_wstring(entries.size()) + L" entries\n";
  for (const TypedEntry& entry : entries) text += EntryLine(entry) + L"\n";
  return text;
}

HRESULT ParseSafeListFile(const std::string& bytes, std::vector<ImportLine>* lines,
                          std::vector<LineError>* errors) {
  std::vector<TextLine> text_lines;
  ZELK_RETURN_IF_FAILED(SplitIntoLines(bytes, &text_lines));
  for (TextLine& text_line : text_lines) {
    if (!text_line.decoded) {
      errors->push_back({text_line.number, text_line.text});
      continue;
    }
    const std::wstring text = TrimmedLine(text_line.text);
    if (text.empty() || text[0] == L'#') continue;
    ImportLine line = {text_line.number, nullptr, std::wstring()};
    std::wstring reason = ReadEntryLine(text, &line);
    if (reason.empty()) {
      lines->push_back(std::move(line));
    } else {
      errors->push_back({text_line.number, std::move(reason)});
    }
  }
  return S_OK;
}

}  // namespace ctl
}  // namespace zelk
