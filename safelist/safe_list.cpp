#include "safelist/safe_list.h"

#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/status.h"
#include "platform/text.h"
#include "platform/unique_resource.h"
#include "safelist/url_compare.h"

namespace zelk {

// Removing an entry and appending a prepared one must not throw once the
// registry has been changed, or memory and registry would part.
static_assert(std::is_nothrow_move_constructible<SafeListEntry>::value &&
                  std::is_nothrow_move_assignable<SafeListEntry>::value,
              "list edits after a registry change must not throw");

namespace {

constexpr char kHttpPrefix[] = "http://";

enum class Overlap { kNone, kCovered, kReplaced };

bool IsEntryType(uint32_t type) { return type == kPage || type == kSite || type == kDomain; }

// Whether an entry of one type, made from `listed`, covers `url`.
bool Covers(uint32_t type, const ListedUrl& url, const ListedUrl& listed) {
  switch (type) {
    case kPage:
      return SamePage(url, listed);
    case kSite:
      return SameSite(url, listed);
    case kDomain:
      return SameDomain(url, listed);
    default:
      return false;
  }
}

// One row of the overlap rules: an entry type against the type being added.
// Two entries overlap when the wider of the two types covers; the same type
// means the new one is already covered, another type means it is replaced.
Overlap RowOverlap(uint32_t row_type, const SafeListEntry& added, const ListedUrl& listed) {
  const uint32_t wider = row_type > added.type ? row_type : added.type;
  if (!Covers(wider, added.url, listed)) return Overlap::kNone;
  return row_type == added.type ? Overlap::kCovered : Overlap::kReplaced;
}

// A loaded entry may carry several type bits: the page bit hides the site
// bit, and the domain bit is tested after either.
Overlap OverlapWith(const SafeListEntry& entry, const SafeListEntry& added) {
  const uint32_t first_row =
      (entry.type & kPage) ? uint32_t{kPage} : (entry.type & kSite) ? uint32_t{kSite} : 0;
  if (first_row != 0) {
    const Overlap overlap = RowOverlap(first_row, added, entry.url);
    if (overlap != Overlap::kNone) return overlap;
  }
  if (entry.type & kDomain) return RowOverlap(kDomain, added, entry.url);
  return Overlap::kNone;
}

// The one test that decides whether Unprotect removes an entry.
bool UnprotectMatches(const SafeListEntry& entry, const ListedUrl& url) {
  if (entry.type & kPage) return SamePage(url, entry.url);
  if (entry.type & kSite) return SameSite(url, entry.url);
  if (entry.type & kDomain) return SameDomain(url, entry.url);
  return false;
}

bool IsLocal(const ListedUrl& url) {
  return url.kind() == kSchemeFile || std::memchr(url.host(), '.', url.host_length()) == nullptr;
}

bool IsAscii(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > 0x7f) return false;
  }
  return true;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// Registry key names compare without regard to letter case, by the system's
// Unicode upper-casing rather than the code page's, so two different key
// texts can name one subkey even when their urls do not overlap (a loaded
// entry without type bits, or a double-byte letter in two cases).
HRESULT NamesSameSubkey(const std::string& a, const std::string& b, bool* same) {
  if (IsAscii(a) && IsAscii(b)) {
    *same = EqualsIgnoringAsciiCase(a, b);
    return S_OK;
  }
  std::wstring wide_a;
  std::wstring wide_b;
  ZELK_RETURN_IF_FAILED(WideFromNarrow(a.data(), a.size(), &wide_a));
  ZELK_RETURN_IF_FAILED(WideFromNarrow(b.data(), b.size(), &wide_b));
  if (wide_a.size() > 0x7fffffff || wide_b.size() > 0x7fffffff) return E_INVALIDARG;
  const int order = CompareStringOrdinal(wide_a.c_str(), static_cast<int>(wide_a.size()),
                                         wide_b.c_str(), static_cast<int>(wide_b.size()), TRUE);
  if (order == 0) return StatusFromLastError();
  *same = order == CSTR_EQUAL;
  return S_OK;
}

// The registry reads '\' as a separator between nested keys and refuses
// names over 255 characters, so such a text could not be one subkey.
bool IsStorableKeyText(const std::string& key) {
  size_t characters = 0;
  for (const char* position = key.c_str(); *position != '\0';) {
    const char* next = NextChar(position);
    if (next - position == 1 && *position == '\\') return false;
    if (++characters > kMaxKeyTextCharacters) return false;
    position = next;
  }
  return true;
}

// May throw std::bad_alloc.
HRESULT DecomposeQueryUrl(const std::string& narrow_url, ListedUrl* url) {
  return url->DecomposeListed(narrow_url.c_str()) ? S_OK : E_INVALIDARG;
}

// The key text and url of an entry to add: the text as given if it
// decomposes, else with "http://" in front. May throw std::bad_alloc.
HRESULT PrepareProtectUrl(const std::string& narrow_url, SafeListEntry* entry) {
  std::string key(narrow_url.c_str());
  if (!entry->url.DecomposeListed(key.c_str())) {
    key.insert(0, kHttpPrefix);
    if (!entry->url.DecomposeListed(key.c_str())) return E_INVALIDARG;
  }
  if (!IsStorableKeyText(key)) return E_INVALIDARG;
  entry->key.swap(key);
  return S_OK;
}

// Creates or opens the entry's subkey. `created` tells whether it is new, so
// that a failure afterwards removes only what this call made.
HRESULT CreateEntrySubkey(const RegistryKey& list_key, const std::string& name,
                          UniqueHkey* subkey, bool* created) {
  DWORD disposition = 0;
  const LONG result = RegCreateKeyExA(list_key.get(), name.c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, kReadWriteAccess, nullptr,
                                      subkey->put(), &disposition);
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  *created = disposition == REG_CREATED_NEW_KEY;
  return S_OK;
}

HRESULT WriteEntryType(const UniqueHkey& subkey, uint32_t type) {
  const DWORD value = type;
  const LONG result = RegSetValueExA(subkey.get(), nullptr, 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&value), sizeof(value));
  return result == ERROR_SUCCESS ? S_OK : StatusFromWin32(result);
}

// Writes the entry's subkey and its type. On failure no subkey made by this
// call is left behind (as far as the registry lets it be deleted).
HRESULT WriteEntry(const RegistryKey& list_key, const SafeListEntry& entry) {
  UniqueHkey subkey;
  bool created = false;
  ZELK_RETURN_IF_FAILED(CreateEntrySubkey(list_key, entry.key, &subkey, &created));
  const HRESULT status = WriteEntryType(subkey, entry.type);
  if (SUCCEEDED(status)) return S_OK;
  subkey.reset();
  // Best effort: the write failure is what the caller must hear about, and a
  // subkey left without a value would only load as a Page entry.
  if (created) static_cast<void>(list_key.DeleteSubkey(entry.key.c_str()));
  return status;
}

// The type stored for an entry; kPage when the subkey cannot be opened or its
// default value is missing or not a 4-byte REG_DWORD.
uint32_t StoredEntryType(const RegistryKey& list_key, const std::string& name) {
  RegistryKey subkey;
  if (FAILED(subkey.Open(list_key.get(), name.c_str(), kReadAccess))) return kPage;
  DWORD type = 0;
  if (FAILED(subkey.ReadDword(nullptr, &type))) return kPage;
  return type;
}

// May throw std::bad_alloc.
HRESULT ReadEntries(std::vector<SafeListEntry>* entries) {
  RegistryKey list_key;
  ZELK_RETURN_IF_FAILED(list_key.Open(HKEY_LOCAL_MACHINE, kSafeListKeyPath, kReadAccess));
  DWORD count = 0;
  DWORD longest_name = 0;
  ZELK_RETURN_IF_FAILED(list_key.QuerySubkeyInfo(&count, &longest_name));
  entries->reserve(count);
  for (DWORD index = 0; index < count; ++index) {
    SafeListEntry entry;
    const HRESULT status = list_key.EnumSubkey(index, &entry.key);
    if (status == E_OUTOFMEMORY) return status;
    // A subkey that vanished or cannot be named is simply not listed.
    if (FAILED(status)) continue;
    // A name that does not decompose still lists, with a reset url, so that
    // the list shows every subkey there is.
    static_cast<void>(entry.url.DecomposeListed(entry.key.c_str()));
    entry.type = StoredEntryType(list_key, entry.key);
    entries->push_back(std::move(entry));
  }
  return S_OK;
}

}  // namespace

HRESULT SafeList::Load() {
  try {
    std::vector<SafeListEntry> loaded;
    ZELK_RETURN_IF_FAILED(ReadEntries(&loaded));
    entries_.swap(loaded);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT SafeList::Protect(const std::string& narrow_url, EntryType type) {
  if (!IsEntryType(type)) return E_INVALIDARG;
  SafeListEntry added;
  added.type = type;
  try {
    ZELK_RETURN_IF_FAILED(PrepareProtectUrl(narrow_url, &added));
    // Room for the new entry now, so that appending it after the registry
    // write cannot fail.
    entries_.reserve(entries_.size() + 1);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  RegistryKey list_key;
  ZELK_RETURN_IF_FAILED(list_key.Open(HKEY_LOCAL_MACHINE, kSafeListKeyPath, kReadWriteAccess));
  bool covered = false;
  ZELK_RETURN_IF_FAILED(RemoveOverlapping(list_key, added, &covered));
  if (covered) return S_OK;
  ZELK_RETURN_IF_FAILED(WriteEntry(list_key, added));
  entries_.push_back(std::move(added));
  return S_OK;
}

HRESULT SafeList::Unprotect(const std::string& narrow_url) {
  ListedUrl url;
  try {
    ZELK_RETURN_IF_FAILED(DecomposeQueryUrl(narrow_url, &url));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  RegistryKey list_key;
  ZELK_RETURN_IF_FAILED(list_key.Open(HKEY_LOCAL_MACHINE, kSafeListKeyPath, kReadWriteAccess));
  size_t index = 0;
  while (index < entries_.size()) {
    if (UnprotectMatches(entries_[index], url)) {
      ZELK_RETURN_IF_FAILED(RemoveEntry(list_key, index));
    } else {
      ++index;
    }
  }
  return S_OK;
}

HRESULT SafeList::IsProtected(const std::string& narrow_url, bool protect_local,
                              bool protect_https, long* code) const {
  ZELK_RETURN_IF_NULL(E_POINTER, code);
  ListedUrl url;
  try {
    ZELK_RETURN_IF_FAILED(DecomposeQueryUrl(narrow_url, &url));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (protect_local && IsLocal(url)) {
    *code = kProtectedAsLocal;
  } else if (protect_https && url.kind() == kSchemeHttps) {
    *code = kProtectedAsHttps;
  } else {
    *code = ListCodeFor(url);
  }
  return S_OK;
}

// Removes every entry that overlaps the one to add, or whose subkey it would
// share. Stops at the first entry that covers it or that must go but cannot;
// removals made before that stand.
HRESULT SafeList::RemoveOverlapping(const RegistryKey& list_key, const SafeListEntry& added,
                                    bool* covered) {
  size_t index = 0;
  while (index < entries_.size()) {
    Overlap overlap = OverlapWith(entries_[index], added);
    if (overlap == Overlap::kNone) {
      // The new entry's subkey would be this entry's too: it goes first, so
      // that no two entries share one subkey.
      bool same_subkey = false;
      ZELK_RETURN_IF_FAILED(NamesSameSubkey(entries_[index].key, added.key, &same_subkey));
      if (same_subkey) overlap = Overlap::kReplaced;
    }
    if (overlap == Overlap::kCovered) {
      *covered = true;
      return S_OK;
    }
    if (overlap == Overlap::kReplaced) {
      ZELK_RETURN_IF_FAILED(RemoveEntry(list_key, index));
    } else {
      ++index;
    }
  }
  return S_OK;
}

// The entry leaves memory only once its subkey is gone; one that is already
// missing (deleted by hand since the load) counts as gone.
HRESULT SafeList::RemoveEntry(const RegistryKey& list_key, size_t index) {
  const HRESULT status = list_key.DeleteSubkey(entries_[index].key.c_str());
  if (FAILED(status) && !IsNotFound(status)) return status;
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
  return S_OK;
}

long SafeList::ListCodeFor(const ListedUrl& url) const {
  for (const SafeListEntry& entry : entries_) {
    if (entry.type & kPage) {
      if (SamePage(url, entry.url)) return kProtectedByPage;
    } else if ((entry.type & kSite) && SameSite(url, entry.url)) {
      return kProtectedBySite;
    }
    if ((entry.type & kDomain) && SameDomain(url, entry.url)) return kProtectedByDomain;
  }
  return kNotProtected;
}

}  // namespace zelk
