#include "platform/text.h"

#include <array>
#include <climits>
#include <cwchar>
#include <new>

#include "platform/status.h"

namespace zelk {

UINT ConversionCodePage() { return CP_THREAD_ACP; }

namespace {

// Without this flag the system replaces a character the code page lacks by a
// look-alike ("best fit"): a fullwidth solidus or colon becomes '/' or ':', so
// text from a web page could smuggle URL delimiters past every check made on
// the wide form. With it, such a character becomes the default character.
constexpr DWORD kNoBestFit = WC_NO_BEST_FIT_CHARS;

// How this process narrows text. The code page is fixed for the process, so
// this is worked out once instead of probing before every conversion.
struct NarrowingRules {
  DWORD flags;
  // UTF-8 and UTF-7 represent every character, refuse the flag
  // (ERROR_INVALID_FLAGS) and must not be asked about default characters.
  bool reports_default_char;
  // The most bytes one wide character can take: sizes the output at once.
  size_t max_bytes_per_char;
};

NarrowingRules ProbeNarrowingRules() {
  const UINT code_page = ConversionCodePage();
  const wchar_t kProbe[] = L"?";
  const bool takes_flag =
      WideCharToMultiByte(code_page, kNoBestFit, kProbe, 1, nullptr, 0, nullptr, nullptr) > 0;
  CPINFO info = {};
  // Four bytes cover every code page there is, should the query fail.
  const size_t max_bytes = GetCPInfo(code_page, &info) && info.MaxCharSize > 0
                               ? static_cast<size_t>(info.MaxCharSize) : 4;
  return {takes_flag ? kNoBestFit : 0, takes_flag, max_bytes};
}

const NarrowingRules& Rules() {
  static const NarrowingRules rules = ProbeNarrowingRules();
  return rules;
}

// Room for `length` wide characters in narrow text, or 0 when that is more
// than a conversion call can describe.
size_t NarrowCapacity(size_t length) {
  const size_t max_bytes = Rules().max_bytes_per_char;
  if (length > static_cast<size_t>(INT_MAX) / max_bytes) return 0;
  return length * max_bytes;
}

// Narrows `length` (> 0) wide characters into `buffer`, whose `capacity`
// comes from NarrowCapacity: one conversion call. Returns the byte count, or
// 0 on failure.
size_t NarrowInto(const wchar_t* wide, size_t length, char* buffer, size_t capacity,
                  bool* used_default_char) {
  const NarrowingRules& rules = Rules();
  BOOL used_default = FALSE;
  const int size = WideCharToMultiByte(
      ConversionCodePage(), rules.flags, wide, static_cast<int>(length), buffer,
      static_cast<int>(capacity), nullptr, rules.reports_default_char ? &used_default : nullptr);
  if (size <= 0) return 0;
  *used_default_char = used_default != FALSE;
  return static_cast<size_t>(size);
}

// Whether narrow text converts back to exactly the wide text it came from.
// Code pages that report default characters say so during the narrowing;
// the others are checked by converting back.
HRESULT ConvertsBack(const wchar_t* wide, size_t length, const std::string& narrow,
                     bool used_default_char, bool* exact) {
  if (Rules().reports_default_char) {
    *exact = !used_default_char;
    return S_OK;
  }
  std::wstring back;
  ZELK_RETURN_IF_FAILED(WideFromNarrow(narrow.data(), narrow.size(), &back));
  *exact = back.size() == length && back.compare(0, length, wide, length) == 0;
  return S_OK;
}

}  // namespace

HRESULT NarrowFromWide(const wchar_t* wide, std::string* narrow, bool* exact) {
  const size_t length = wide == nullptr ? 0 : wcslen(wide);
  if (length == 0) {
    narrow->clear();
    if (exact != nullptr) *exact = true;
    return S_OK;
  }
  const size_t capacity = NarrowCapacity(length);
  if (capacity == 0) return E_OUTOFMEMORY;
  try {
    std::string converted(capacity, '\0');
    bool used_default_char = false;
    const size_t size = NarrowInto(wide, length, &converted[0], capacity, &used_default_char);
    if (size == 0) return E_OUTOFMEMORY;
    converted.resize(size);
    if (exact != nullptr) {
      ZELK_RETURN_IF_FAILED(ConvertsBack(wide, length, converted, used_default_char, exact));
    }
    narrow->swap(converted);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT StackNarrow::Assign(const wchar_t* wide) {
  text_ = inline_;
  inline_[0] = '\0';
  const size_t length = wide == nullptr ? 0 : wcslen(wide);
  if (length == 0) return S_OK;
  const size_t capacity = NarrowCapacity(length);
  if (capacity == 0) return E_OUTOFMEMORY;
  if (capacity < kInlineBytes) {
    bool used_default_char = false;
    const size_t size = NarrowInto(wide, length, inline_, capacity, &used_default_char);
    if (size == 0) return E_OUTOFMEMORY;
    inline_[size] = '\0';
    return S_OK;
  }
  ZELK_RETURN_IF_FAILED(NarrowFromWide(wide, &spilled_));
  text_ = spilled_.c_str();
  return S_OK;
}

HRESULT WideFromNarrow(const char* narrow, size_t length, std::wstring* wide) {
  if (length == 0) {
    wide->clear();
    return S_OK;
  }
  if (length > 0x7fffffff) return E_OUTOFMEMORY;
  const int narrow_length = static_cast<int>(length);
  try {
    // No byte becomes more than one wide character: one call does it.
    std::wstring converted(length, L'\0');
    const int size = MultiByteToWideChar(ConversionCodePage(), 0, narrow, narrow_length,
                                         &converted[0], narrow_length);
    if (size <= 0) return E_OUTOFMEMORY;
    converted.resize(static_cast<size_t>(size));
    wide->swap(converted);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT Utf8FromWide(const std::wstring& wide, std::string* utf8) {
  if (wide.empty()) {
    utf8->clear();
    return S_OK;
  }
  if (wide.size() > static_cast<size_t>(INT_MAX)) return E_OUTOFMEMORY;
  const int length = static_cast<int>(wide.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return StatusFromLastError();
  try {
    std::string converted(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, &converted[0], size, nullptr,
                            nullptr) != size) {
      return StatusFromLastError();
    }
    utf8->swap(converted);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT WideFromUtf8(const std::string& utf8, std::wstring* wide) {
  if (utf8.empty()) {
    wide->clear();
    return S_OK;
  }
  if (utf8.size() > static_cast<size_t>(INT_MAX)) return E_OUTOFMEMORY;
  const int length = static_cast<int>(utf8.size());
  const int size =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
  if (size <= 0) return StatusFromLastError();
  try {
    std::wstring converted(static_cast<size_t>(size), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, &converted[0],
                            size) != size) {
      return StatusFromLastError();
    }
    wide->swap(converted);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT BstrFromWide(const std::wstring& wide, UniqueBstr* bstr) {
  BSTR copy = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (copy == nullptr) return E_OUTOFMEMORY;
  bstr->reset(copy);
  return S_OK;
}

HRESULT BstrFromNarrow(const std::string& narrow, UniqueBstr* bstr) {
  std::wstring wide;
  HRESULT status = WideFromNarrow(narrow.data(), narrow.size(), &wide);
  if (FAILED(status)) return status;
  return BstrFromWide(wide, bstr);
}

const char* NextChar(const char* text) {
  if (*text == '\0') return text;
  // A lead byte right before the terminator stands alone, as CharNextA has it.
  if (IsLeadByte(static_cast<unsigned char>(*text)) && text[1] != '\0') return text + 2;
  return text + 1;
}

namespace {

using UpperTable = std::array<unsigned char, 256>;

UpperTable BuildUpperTable() {
  UpperTable table;
  for (size_t c = 0; c < table.size(); ++c) {
    // CharUpperA takes a single character in the low word of its pointer argument.
    table[c] = static_cast<unsigned char>(
        reinterpret_cast<UINT_PTR>(CharUpperA(reinterpret_cast<LPSTR>(static_cast<UINT_PTR>(c)))));
  }
  return table;
}

}  // namespace

unsigned char UpperChar(unsigned char c) {
  // The safe list upper-cases every character it compares; asking the system
  // each time made a walk of 10,000 entries take tens of milliseconds. The
  // mapping of a single byte never changes while the process runs.
  static const UpperTable table = BuildUpperTable();
  return table[c];
}

bool IsLeadByte(unsigned char c) {
  // Asked for every character stepped over; the code page's lead bytes do not
  // change while the process runs.
  static const std::array<bool, 256> lead_bytes = [] {
    std::array<bool, 256> table;
    for (size_t byte = 0; byte < table.size(); ++byte) {
      table[byte] = IsDBCSLeadByte(static_cast<BYTE>(byte)) != FALSE;
    }
    return table;
  }();
  return lead_bytes[c];
}

namespace {

// Bytes in the character that starts at `text[index]` of a text of `length`
// bytes: a lead byte at the very end stands alone, as NextChar has it.
size_t CharBytesAt(const char* text, size_t index, size_t length) {
  return IsLeadByte(static_cast<unsigned char>(text[index])) && index + 1 < length ? 2 : 1;
}

}  // namespace

bool EqualsIgnoringCase(const char* a, size_t a_length, const char* b, size_t b_length) {
  // Upper-casing never changes a character's byte count.
  if (a_length != b_length) return false;
  for (size_t index = 0; index < a_length;) {
    const size_t unit = CharBytesAt(a, index, a_length);
    if (unit != CharBytesAt(b, index, b_length)) return false;
    if (unit == 1) {
      if (UpperChar(static_cast<unsigned char>(a[index])) !=
          UpperChar(static_cast<unsigned char>(b[index]))) {
        return false;
      }
    } else if (a[index] != b[index] || a[index + 1] != b[index + 1]) {
      return false;
    }
    index += unit;
  }
  return true;
}

std::string FoldCase(const char* text, size_t length) {
  std::string folded(text, length);
  for (size_t index = 0; index < length;) {
    const size_t unit = CharBytesAt(text, index, length);
    if (unit == 1) folded[index] = static_cast<char>(UpperChar(static_cast<unsigned char>(text[index])));
    index += unit;
  }
  return folded;
}

uint32_t HashIgnoringCase(const char* text, size_t length, uint32_t seed) {
  // FNV-1a over the folded bytes.
  uint32_t hash = seed ^ 2166136261u;
  const auto mix = [&hash](unsigned char byte) { hash = (hash ^ byte) * 16777619u; };
  for (size_t index = 0; index < length;) {
    const size_t unit = CharBytesAt(text, index, length);
    if (unit == 1) {
      mix(UpperChar(static_cast<unsigned char>(text[index])));
    } else {
      mix(static_cast<unsigned char>(text[index]));
      mix(static_cast<unsigned char>(text[index + 1]));
    }
    index += unit;
  }
  return hash;
}

}  // namespace zelk
