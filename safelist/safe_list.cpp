#include "safelist/safe_list.h"

#include <algorithm>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/text.h"

namespace zelk {

namespace {

constexpr char kHttpPrefix[] = "http://";

// Below this many holes a list is not worth compacting.
constexpr size_t kMinHolesToCompact = 16;

// Kind and port are part of every index key.
uint32_t SeedOf(int32_t kind, uint16_t port) {
  return (static_cast<uint32_t>(kind) * 0x9e3779b1u) ^ port;
}

uint32_t HostHash(const UrlView& url) {
  return HashIgnoringCase(url.host.data(), url.host.size(), SeedOf(url.kind, url.port));
}

uint32_t DomainHash(const UrlView& url) {
  return HashIgnoringCase(url.domain.data(), url.domain.size(), SeedOf(url.kind, url.port));
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

// Where the parts of `url`, decomposed from `key`, lie in `key`; the reset
// form when it did not decompose.
StoredUrl Condense(const ListedUrl& url, bool decomposed, const std::string& key) {
  StoredUrl stored;
  // A key text this long is no registry name; it cannot be described in 16 bits.
  if (!decomposed || key.size() > UINT16_MAX) return stored;
  const size_t domain_offset = static_cast<size_t>(url.domain().data() - url.host());
  stored.host_begin = static_cast<uint16_t>(url.host_offset());
  stored.host_length = static_cast<uint16_t>(url.host_length());
  stored.path_begin = static_cast<uint16_t>(url.path_offset());
  stored.path_length = static_cast<uint16_t>(url.path_length());
  stored.domain_begin = static_cast<uint16_t>(url.host_offset() + domain_offset);
  stored.port = url.port();
  stored.kind = static_cast<int8_t>(url.kind());
  return stored;
}

HRESULT WideName(const std::string& key, std::wstring* name) {
  return WideFromNarrow(key.data(), key.size(), name);
}

// The type stored for an entry; kPage when the subkey cannot be opened or its
// default value is missing or not a 4-byte REG_DWORD.
uint32_t StoredEntryType(const RegistryKey& list_key, const std::wstring& name) {
  RegistryKey subkey;
  if (FAILED(subkey.Open(list_key.get(), name.c_str(), kReadAccess))) return kPage;
  DWORD type = 0;
  if (FAILED(subkey.ReadDword(nullptr, &type))) return kPage;
  return type;
}

// Writes the entry's subkey and its type. On failure no subkey made by this
// call is left behind (as far as the registry lets it be deleted).
HRESULT WriteEntry(const RegistryKey& list_key, const std::wstring& name, uint32_t type) {
  RegistryKey subkey;
  bool created = false;
  ZELK_RETURN_IF_FAILED(subkey.Create(list_key.get(), name.c_str(), kReadWriteAccess, &created));
  const HRESULT status = subkey.WriteDword(nullptr, type);
  if (SUCCEEDED(status)) return S_OK;
  subkey.Close();
  // Best effort: the write failure is what the caller must hear about, and a
  // subkey left without a value would only load as a Page entry.
  if (created) static_cast<void>(list_key.DeleteSubkey(name.c_str()));
  return status;
}

void EraseFromIndex(std::unordered_multimap<uint32_t, uint32_t>* index, uint32_t hash,
                    uint32_t position) {
  const auto range = index->equal_range(hash);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == position) {
      index->erase(it);
      return;
    }
  }
}

void SortUnique(std::vector<uint32_t>* positions) {
  std::sort(positions->begin(), positions->end());
  positions->erase(std::unique(positions->begin(), positions->end()), positions->end());
}

}  // namespace

UrlView SafeList::Entry::view() const {
  const char* text = key.data();
  const size_t host_end = static_cast<size_t>(url.host_begin) + url.host_length;
  return {url.kind, url.port, std::string_view(text + url.host_begin, url.host_length),
          std::string_view(text + url.path_begin, url.path_length),
          std::string_view(text + url.domain_begin, host_end - url.domain_begin)};
}

namespace {

// Fills in an entry's url and index hashes from its key text.
// May throw std::bad_alloc.
template <typename Entry>
void DescribeKey(const ListedUrl& url, bool decomposed, Entry* entry) {
  entry->url = Condense(url, decomposed, entry->key);
  const UrlView view = entry->view();
  entry->host_hash = HostHash(view);
  entry->domain_hash = DomainHash(view);
}

// May throw std::bad_alloc.
template <typename Entry>
HRESULT PrepareProtectEntry(const std::string& narrow_url, Entry* entry) {
  ListedUrl url;
  ZELK_RETURN_IF_FAILED(KeyTextToProtect(narrow_url, &entry->key, &url));
  DescribeKey(url, true, entry);
  return S_OK;
}

}  // namespace

HRESULT KeyTextToProtect(const std::string& narrow_url, std::string* key, ListedUrl* url) {
  key->assign(narrow_url.c_str());
  if (!url->DecomposeListed(key->c_str(), IsLeadByte)) {
    key->insert(0, kHttpPrefix);
    if (!url->DecomposeListed(key->c_str(), IsLeadByte)) return E_INVALIDARG;
  }
  return IsStorableKeyText(*key) ? S_OK : E_INVALIDARG;
}

void SafeList::Swap(SafeList* other) {
  entries_.swap(other->entries_);
  std::swap(live_count_, other->live_count_);
  by_host_.swap(other->by_host_);
  by_domain_.swap(other->by_domain_);
  by_name_.swap(other->by_name_);
}

HRESULT SafeList::Load() {
  try {
    SafeList loaded;
    ZELK_RETURN_IF_FAILED(loaded.ReadEntries());
    Swap(&loaded);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// May throw std::bad_alloc.
HRESULT SafeList::ReadEntries() {
  RegistryKey list_key;
  ZELK_RETURN_IF_FAILED(list_key.Open(HKEY_LOCAL_MACHINE, kSafeListKeyPath, kReadAccess));
  DWORD count = 0;
  DWORD longest_name = 0;
  ZELK_RETURN_IF_FAILED(list_key.QuerySubkeyInfo(&count, &longest_name));
  entries_.reserve(count);
  by_host_.reserve(count);
  by_domain_.reserve(count);
  by_name_.reserve(count);
  std::wstring name;
  name.reserve(longest_name + 1);
  ListedUrl url;
  for (DWORD index = 0; index < count; ++index) {
    const HRESULT status = list_key.EnumSubkey(index, &name);
    if (status == E_OUTOFMEMORY) return status;
    // A subkey that vanished since the count is simply not listed.
    if (FAILED(status)) continue;
    Entry entry;
    bool exact = true;
    ZELK_RETURN_IF_FAILED(NarrowFromWide(name.c_str(), &entry.key, &exact));
    if (!exact) entry.registry_name.reset(new std::wstring(name));
    // A name that does not decompose still lists, with a reset url, so that
    // the list shows every subkey there is.
    const bool decomposed = url.DecomposeListed(entry.key.c_str(), IsLeadByte);
    DescribeKey(url, decomposed, &entry);
    ZELK_RETURN_IF_FAILED(KeyNameHash(name, &entry.name_hash));
    entry.type = StoredEntryType(list_key, name);
    Append(std::move(entry));
  }
  return S_OK;
}

HRESULT SafeList::Protect(const std::string& narrow_url, EntryType type) {
  if (!IsEntryType(type)) return E_INVALIDARG;
  Entry added;
  added.type = type;
  std::wstring name;
  std::vector<uint32_t> candidates;
  std::vector<uint32_t> same_subkey;
  try {
    ZELK_RETURN_IF_FAILED(PrepareProtectEntry(narrow_url, &added));
    ZELK_RETURN_IF_FAILED(WideName(added.key, &name));
    ZELK_RETURN_IF_FAILED(KeyNameHash(name, &added.name_hash));
    ZELK_RETURN_IF_FAILED(Candidates(added.view(), &candidates));
    ZELK_RETURN_IF_FAILED(SameSubkeyCandidates(added, name, &same_subkey));
    // Room for the new entry now, so that appending it cannot fail later;
    // grown by half, so that a long run of additions moves the list rarely.
    if (entries_.size() == entries_.capacity()) {
      entries_.reserve(entries_.size() + entries_.size() / 2 + 16);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  RegistryKey list_key;
  ZELK_RETURN_IF_FAILED(list_key.Open(HKEY_LOCAL_MACHINE, kSafeListKeyPath, kReadWriteAccess));
  bool covered = false;
  HRESULT status = RemoveOverlapping(list_key, added, candidates, same_subkey, &covered);
  if (SUCCEEDED(status) && !covered) {
    try {
      Append(std::move(added));
    } catch (const std::bad_alloc&) {
      status = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(status)) {
      status = WriteEntry(list_key, name, type);
      if (FAILED(status)) DropLast();
    }
  }
  CompactIfSparse();
  return status;
}

HRESULT SafeList::Unprotect(const std::string& narrow_url) {
  ListedUrl url;
  if (!url.DecomposeListed(narrow_url.c_str(), IsLeadByte)) return E_INVALIDARG;
  const UrlView view = url.view();
  std::vector<uint32_t> candidates;
  try {
    ZELK_RETURN_IF_FAILED(Candidates(view, &candidates));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  RegistryKey list_key;
  ZELK_RETURN_IF_FAILED(list_key.Open(HKEY_LOCAL_MACHINE, kSafeListKeyPath, kReadWriteAccess));
  HRESULT status = S_OK;
  for (const uint32_t position : candidates) {
    const Entry& entry = entries_[position];
    if (!UnprotectMatches(entry.type, entry.view(), view)) continue;
    status = RemoveEntry(list_key, position);
    if (FAILED(status)) break;
  }
  CompactIfSparse();
  return status;
}

HRESULT SafeList::IsProtected(const char* narrow_url, bool protect_local, bool protect_https,
                              long* code) const {
  return IsProtected(narrow_url, protect_local, protect_https, nullptr, nullptr, code);
}

HRESULT SafeList::IsProtected(const char* narrow_url, bool protect_local, bool protect_https,
                              const SafeList* blocked, const SafeList* managed,
                              long* code) const {
  ZELK_RETURN_IF_NULL(E_POINTER, code);
  ListedUrl url;
  if (!url.DecomposeListed(narrow_url, IsLeadByte)) return E_INVALIDARG;
  const UrlView view = url.view();
  long managed_code = kNotProtected;
  if (blocked != nullptr && blocked->ListCodeFor(view) != kNotProtected) {
    *code = kNotProtected;
  } else if (protect_local && IsLocal(view)) {
    *code = kProtectedAsLocal;
  } else if (protect_https && view.kind == kSchemeHttps) {
    *code = kProtectedAsHttps;
  } else if (managed != nullptr && (managed_code = managed->ListCodeFor(view)) != kNotProtected) {
    *code = managed_code;
  } else {
    *code = ListCodeFor(view);
  }
  return S_OK;
}

HRESULT SafeList::Assign(const std::vector<KeyAndType>& entries) {
  try {
    SafeList assigned;
    assigned.entries_.reserve(entries.size());
    assigned.by_host_.reserve(entries.size());
    assigned.by_domain_.reserve(entries.size());
    ListedUrl url;
    for (const KeyAndType& item : entries) {
      Entry entry;
      entry.key = *item.key;
      entry.type = item.type;
      const bool decomposed = url.DecomposeListed(entry.key.c_str(), IsLeadByte);
      DescribeKey(url, decomposed, &entry);
      assigned.Append(std::move(entry));
    }
    Swap(&assigned);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// Every live entry that shares the URL's host or domain (with its kind and
// port), in list order: no other entry can cover it or overlap it.
// May throw std::bad_alloc.
HRESULT SafeList::Candidates(const UrlView& url, std::vector<uint32_t>* positions) const {
  for (const Index* index : {&by_host_, &by_domain_}) {
    const auto range = index->equal_range(index == &by_host_ ? HostHash(url) : DomainHash(url));
    for (auto it = range.first; it != range.second; ++it) {
      if (entries_[it->second].live) positions->push_back(it->second);
    }
  }
  SortUnique(positions);
  return S_OK;
}

// The entries whose subkey has the name `name` in another letter case.
// May throw std::bad_alloc.
HRESULT SafeList::SameSubkeyCandidates(const Entry& added, const std::wstring& name,
                                       std::vector<uint32_t>* positions) const {
  const auto range = by_name_.equal_range(added.name_hash);
  for (auto it = range.first; it != range.second; ++it) {
    const Entry& entry = entries_[it->second];
    if (!entry.live) continue;
    std::wstring widened;
    const std::wstring* entry_name = entry.registry_name.get();
    if (entry_name == nullptr) {
      ZELK_RETURN_IF_FAILED(WideName(entry.key, &widened));
      entry_name = &widened;
    }
    bool same = false;
    ZELK_RETURN_IF_FAILED(SameKeyName(*entry_name, name, &same));
    if (same) positions->push_back(it->second);
  }
  SortUnique(positions);
  return S_OK;
}

// Removes, in list order, every entry that overlaps the one to add, and stops
// at the first that covers it: removals made before that stand. The entries
// whose subkey the new one would share go only once no entry covers it, just
// before the new subkey is written: a covered addition writes nothing, so it
// must not take away an entry that merely shares its name. Stops at the first
// entry that must go but cannot.
HRESULT SafeList::RemoveOverlapping(const RegistryKey& list_key, const Entry& added,
                                    const std::vector<uint32_t>& candidates,
                                    const std::vector<uint32_t>& same_subkey, bool* covered) {
  const UrlView added_view = added.view();
  for (const uint32_t position : candidates) {
    const Entry& entry = entries_[position];
    const Overlap overlap = OverlapWith(entry.type, entry.view(), added.type, added_view);
    if (overlap == Overlap::kCovered) {
      *covered = true;
      return S_OK;
    }
    if (overlap == Overlap::kReplaced) ZELK_RETURN_IF_FAILED(RemoveEntry(list_key, position));
  }
  // No two entries may share one subkey.
  for (const uint32_t position : same_subkey) {
    if (entries_[position].live) ZELK_RETURN_IF_FAILED(RemoveEntry(list_key, position));
  }
  return S_OK;
}

// The entry leaves memory only once its subkey is gone; one that is already
// missing (deleted by hand since the load) counts as gone.
HRESULT SafeList::RemoveEntry(const RegistryKey& list_key, uint32_t position) {
  Entry& entry = entries_[position];
  std::wstring widened;
  const std::wstring* name = entry.registry_name.get();
  if (name == nullptr) {
    ZELK_RETURN_IF_FAILED(WideName(entry.key, &widened));
    name = &widened;
  }
  const HRESULT status = list_key.DeleteSubkey(name->c_str());
  if (FAILED(status) && !IsNotFound(status)) return status;
  EraseFromIndex(&by_host_, entry.host_hash, position);
  EraseFromIndex(&by_domain_, entry.domain_hash, position);
  EraseFromIndex(&by_name_, entry.name_hash, position);
  entry = Entry();
  entry.live = false;
  --live_count_;
  return S_OK;
}

// Strong guarantee: on std::bad_alloc the list is as it was. Needs room for
// one more entry in entries_ when it must not throw after a registry change.
void SafeList::Append(Entry&& entry) {
  static_assert(std::is_nothrow_move_constructible<Entry>::value &&
                    std::is_nothrow_move_assignable<Entry>::value,
                "list edits after a registry change must not throw");
  const uint32_t position = static_cast<uint32_t>(entries_.size());
  try {
    by_host_.emplace(entry.host_hash, position);
    by_domain_.emplace(entry.domain_hash, position);
    by_name_.emplace(entry.name_hash, position);
    entries_.push_back(std::move(entry));
  } catch (const std::bad_alloc&) {
    // No index holds `position` but for this entry: erasing what is not
    // there does nothing.
    EraseFromIndex(&by_host_, entry.host_hash, position);
    EraseFromIndex(&by_domain_, entry.domain_hash, position);
    EraseFromIndex(&by_name_, entry.name_hash, position);
    throw;
  }
  ++live_count_;
}

void SafeList::DropLast() {
  const uint32_t position = static_cast<uint32_t>(entries_.size() - 1);
  const Entry& entry = entries_.back();
  EraseFromIndex(&by_host_, entry.host_hash, position);
  EraseFromIndex(&by_domain_, entry.domain_hash, position);
  EraseFromIndex(&by_name_, entry.name_hash, position);
  entries_.pop_back();
  --live_count_;
}

// Removal leaves holes, so that no removal moves the entries after it; once
// the holes outnumber the entries, the list is packed and indexed anew, which
// keeps list order. Without the memory for that it simply stays sparse.
void SafeList::CompactIfSparse() {
  const size_t holes = entries_.size() - live_count_;
  if (holes < kMinHolesToCompact || holes < live_count_) return;
  try {
    std::vector<Entry> packed;
    packed.reserve(live_count_);
    Index by_host, by_domain, by_name;
    by_host.reserve(live_count_);
    by_domain.reserve(live_count_);
    by_name.reserve(live_count_);
    uint32_t position = 0;
    for (const Entry& entry : entries_) {
      if (!entry.live) continue;
      by_host.emplace(entry.host_hash, position);
      by_domain.emplace(entry.domain_hash, position);
      by_name.emplace(entry.name_hash, position);
      ++position;
    }
    for (Entry& entry : entries_) {
      if (entry.live) packed.push_back(std::move(entry));
    }
    entries_.swap(packed);
    by_host_.swap(by_host);
    by_domain_.swap(by_domain);
    by_name_.swap(by_name);
  } catch (const std::bad_alloc&) {
  }
}

// The first entry in list order that covers the URL decides: the lowest
// position among the candidates that match.
long SafeList::ListCodeFor(const UrlView& url) const {
  uint32_t first = UINT32_MAX;
  long code = kNotProtected;
  const auto consider = [&](const Index& index, uint32_t hash) {
    const auto range = index.equal_range(hash);
    for (auto it = range.first; it != range.second; ++it) {
      const uint32_t position = it->second;
      if (position >= first) continue;
      const Entry& entry = entries_[position];
      if (!entry.live) continue;
      const long entry_code = EntryCode(entry.type, entry.view(), url);
      if (entry_code == kNotProtected) continue;
      first = position;
      code = entry_code;
    }
  };
  consider(by_host_, HostHash(url));
  consider(by_domain_, DomainHash(url));
  return code;
}

}  // namespace zelk
