#include "tools/zelkctl/arguments.h"

#include <shellapi.h>

#include "platform/status.h"
#include "tools/zelkctl/local_memory.h"

namespace zelk {
namespace ctl {

namespace {

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool IsOneOf(const std::wstring& text, std::initializer_list<const wchar_t*> keywords) {
  for (const wchar_t* keyword : keywords) {
    if (EqualsIgnoringCase(text, keyword)) return true;
  }
  return false;
}

}  // namespace

HRESULT ReadProcessArguments(std::vector<std::wstring>* arguments) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr) return StatusFromLastError();
  UniqueLocalMemory owner(argv);
  std::vector<std::wstring> result;
  for (int index = 1; index < count; ++index) result.emplace_back(argv[index]);
  arguments->swap(result);
  return S_OK;
}

bool EqualsIgnoringCase(const std::wstring& text, const wchar_t* keyword) {
  size_t index = 0;
  for (; keyword[index] != L'\0'; ++index) {
    if (index >= text.size() || FoldAscii(text[index]) != FoldAscii(keyword[index])) return false;
  }
  return index == text.size();
}

bool IsHelpRequest(const std::wstring& argument) {
  return IsOneOf(argument, {L"--help", L"-h", L"-?", L"/?"});
}

bool ParseFlag(const std::wstring& text, bool* value) {
  if (IsOneOf(text, {L"on", L"true", L"1"})) {
    *value = true;
    return true;
  }
  if (IsOneOf(text, {L"off", L"false", L"0"})) {
    *value = false;
    return true;
  }
  return false;
}

bool ParseLong(const std::wstring& text, long* value) {
  size_t index = 0;
  const bool negative = !text.empty() && text[0] == L'-';
  if (!text.empty() && (text[0] == L'-' || text[0] == L'+')) index = 1;
  if (index == text.size()) return false;
  // Accumulated as a magnitude so that the most negative long still fits.
  const unsigned long long limit = negative ? 2147483648ULL : 2147483647ULL;
  unsigned long long magnitude = 0;
  for (; index < text.size(); ++index) {
    const wchar_t c = text[index];
    if (c < L'0' || c > L'9') return false;
    magnitude = magnitude * 10 + static_cast<unsigned long long>(c - L'0');
    if (magnitude > limit) return false;
  }
  *value = negative ? static_cast<long>(-static_cast<long long>(magnitude))
                    : static_cast<long>(magnitude);
  return true;
}

}  // namespace ctl
}  // namespace zelk
