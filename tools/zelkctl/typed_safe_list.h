// The safe list as an administrator sees it: each entry's key text with the
// type stored in its subkey. The automation interface hands out key texts
// only, so the types are read from the registry, the way the server reads
// them when it starts.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "zelk_admin.h"

namespace zelk {
namespace ctl {

// The three types the server makes, with the member that makes each.
struct EntryKind {
  DWORD type;  // the value stored in the entry's subkey: 1, 2 or 4
  const wchar_t* member;
  HRESULT (STDMETHODCALLTYPE IZelkHelper::*protect)(BSTR);
};

// The kind named by `word` ("page", "site", "domain" in any letter case, as
// in a list file); nullptr for any other word. Its word is EntryTypeWord(type).
const EntryKind* EntryKindNamed(const std::wstring& word);
// The kind whose type is exactly `type`; nullptr for a stored type that is
// not one of the three (no bit, or several).
const EntryKind* EntryKindOfType(DWORD type);

struct TypedEntry {
  std::wstring key;  // the key text exactly as the server returns it
  DWORD type;

  bool operator<(const TypedEntry& other) const {
    return key != other.key ? key < other.key : type < other.type;
  }
  bool operator==(const TypedEntry& other) const {
    return key == other.key && type == other.type;
  }
};

// The safe list in the server's order, each entry with its stored type. An
// entry whose subkey or default value is missing, or whose default value is
// not a 4-byte REG_DWORD, has type 1: the server loads it as a page.
// *entries is untouched on failure.
HRESULT FetchTypedSafeList(IZelkHelper* helper, std::vector<TypedEntry>* entries);

}  // namespace ctl
}  // namespace zelk
