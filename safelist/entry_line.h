// One safe-list entry written as a line of text: "page URL", "site URL" or
// "domain URL". zelkctl's list files and the managed lists of machine policy
// use the same words and the same checks, so that a line one of them takes
// the other takes too. Lines arrive as wide text: whether the code page can
// hold a URL is one of the checks.
#pragma once

#include <cstdint>
#include <string>

namespace zelk {

// The entry type a word names ("page", "site", "domain" in any letter case);
// 0 for any other word.
uint32_t EntryTypeNamed(const std::wstring& word);
// The word for exactly `type`; nullptr for any other type (no bit, or several).
const wchar_t* EntryTypeWord(uint32_t type);

// "code page N", the code page of every conversion, for messages.
std::wstring CodePageName();

// The narrow text the server makes of `text`; false when it is not the same
// text (a character became the code page's default character). May throw
// std::bad_alloc.
bool HeldInCodePage(const std::wstring& text, std::string* narrow);

// The text with control characters shown as \xNN, for messages.
std::wstring VisibleText(const std::wstring& text);

bool IsLineBlank(wchar_t c);
// A control character: C0, DEL or C1.
bool IsLineControl(wchar_t c);
// The text without blanks (space, tab, CR) at either end.
std::wstring TrimmedLine(const std::wstring& text);
// Where a comment starts after an entry: a '#' that follows a blank; npos
// when none does. A '#' right after other text is part of the URL.
size_t CommentStart(const std::wstring& text);
// The position of the first control character; npos when there is none.
size_t FirstControl(const std::wstring& text);

// Why a protect member of the server refuses `url`: a text the code page
// cannot hold, a '\', more than 255 characters, or no URL even with
// "http://" in front. Empty when the server takes it. May throw
// std::bad_alloc.
std::wstring WhyServerRefuses(const std::wstring& url);

// An entry line read: its type (one EntryType) and its URL as written.
struct ParsedEntryLine {
  uint32_t type = 0;
  std::wstring url;
};

// Why the trimmed, non-comment `text` is no entry the server takes (a
// "type=N" word, an unknown word, no URL, a control character, or a URL the
// server refuses); empty when it is one, with *line filled in. A comment
// after the URL is dropped. May throw std::bad_alloc.
std::wstring WhyNotEntryLine(const std::wstring& text, ParsedEntryLine* line);

}  // namespace zelk
