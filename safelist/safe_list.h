// The user's list of protected pages, sites and domains, kept in memory and,
// as one subkey per entry, under HKEY_LOCAL_MACHINE\Software\Zelk\SafeList.
//
// Each subkey is named by the entry's key text (the URL as stored) and its
// default value is a REG_DWORD holding the entry's type. Memory and registry
// stay in step after every operation, whether it succeeds or fails: an entry
// enters the list only once its subkey and value are written, and leaves it
// only once its subkey is gone. Questions are answered from memory alone.
//
// Every answer is the one a walk over the list in order would give: the first
// entry that covers a URL decides. The walk itself is not made: entries are
// found through hash indexes by (kind, port, host) and (kind, port, domain),
// keyed by the same case folding the comparisons use, and by subkey name; the
// candidates are then tested in list order. Entries are compact: the key text
// once, with the parts of its URL as offsets into it.
//
// Text is narrow (the ANSI code page); the automation layer converts. A
// subkey whose name has no exact narrow form is listed and matched by its
// narrow form but read and deleted by its real name.
// Not thread-safe: the server calls it from its one apartment thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/registry_key.h"
#include "platform/status.h"
#include "safelist/entry_rules.h"
#include "safelist/url_parts.h"

namespace zelk {

// A registry key name holds at most this many characters.
constexpr size_t kMaxKeyTextCharacters = 255;

// Where the parts of a listed URL lie in the key text it came from. Key texts
// are registry names of at most 255 characters, so 16 bits reach every byte.
struct StoredUrl {
  uint16_t host_begin = 0;
  uint16_t host_length = 0;
  uint16_t path_begin = 0;
  uint16_t path_length = 0;
  uint16_t domain_begin = 0;  // the domain runs from here to the host's end
  uint16_t port = 0;
  int8_t kind = kSchemeUnknown;
};

// The key text that protecting `narrow_url` stores, with `url` decomposed
// from it: the text as given if it decomposes, else with "http://" in front.
// E_INVALIDARG when neither decomposes, or when the key holds '\' or is longer
// than 255 characters: it could not be one subkey. May throw std::bad_alloc.
HRESULT KeyTextToProtect(const std::string& narrow_url, std::string* key, ListedUrl* url);

class SafeList {
 public:
  SafeList() = default;
  SafeList(const SafeList&) = delete;
  SafeList& operator=(const SafeList&) = delete;

  // Reads every subkey of the SafeList key (KEY_READ) into a new list, in the
  // registry's enumeration order, and replaces the current list with it.
  // A subkey whose default value is missing or not a REG_DWORD is a Page
  // entry; a name that does not decompose gives an entry with a reset url
  // (kind unknown, port 0, empty host, path and domain).
  // Fails with the registry's status when the key cannot be opened or
  // queried, or E_OUTOFMEMORY; the current list is then unchanged.
  HRESULT Load();

  // Protects a page, site or domain. A text that does not decompose is tried
  // again with "http://" in front; the text that decomposed is the key.
  // Every entry of another type that overlaps the new one is removed; if an
  // entry of the same type already covers it, S_OK and nothing more. Only
  // when the new subkey is about to be written is an entry whose subkey it
  // would share (the registry ignores letter case) removed too.
  //   E_INVALIDARG: `type` is not one EntryType; the text does not decompose
  //     even with the prefix; or the key contains '\' or is longer than 255
  //     characters (it could not be stored as one subkey). Nothing changed.
  //   Registry status: the SafeList key cannot be opened (nothing changed),
  //     an overlapping entry's subkey cannot be deleted (entries removed
  //     before it stay removed, it stays), or the new subkey or its value
  //     cannot be written (no new entry in memory or registry).
  //   E_OUTOFMEMORY: no new entry (removals made before stand).
  HRESULT Protect(const std::string& narrow_url, EntryType type);

  // Removes every entry that covers the URL: its page, the site of its host
  // and the domain of its host, all at once. No "http://" is added. S_OK
  // also when nothing matched. E_INVALIDARG when the text does not
  // decompose; the registry's status when the key cannot be opened or a
  // subkey cannot be deleted (matching entries before it stay removed, it
  // stays in both). A subkey that is already gone counts as deleted.
  HRESULT Unprotect(const std::string& narrow_url);

  // Tells what protects the URL, from memory alone: kProtectedAsLocal when
  // protect_local is set and the URL is a file URL or its host has no '.';
  // else kProtectedAsHttps when protect_https is set and it is an https URL;
  // else the code of the first entry in list order that covers it;
  // else kNotProtected. No "http://" is added. Allocates nothing.
  // E_POINTER for a null `code`; E_INVALIDARG when the text does not
  // decompose leaves *code unwritten.
  HRESULT IsProtected(const char* narrow_url, bool protect_local, bool protect_https,
                      long* code) const;

  // The same with lists that outrank this one: a URL that an entry of
  // `blocked` covers is kNotProtected whatever else would protect it; after
  // the two settings, the first entry of `managed` that covers it decides,
  // and only then this list. Either may be null (no such list).
  HRESULT IsProtected(const char* narrow_url, bool protect_local, bool protect_https,
                      const SafeList* blocked, const SafeList* managed, long* code) const;

  // Replaces the list with `entries`, in memory only, in their order and
  // without the overlap rules of Protect: the first entry that covers a URL
  // decides, as in any list. Each key is a text as KeyTextToProtect makes
  // it; one that does not decompose matches nothing. Such a list is only
  // asked: Protect, Unprotect and Load are for the user's list.
  // S_OK or E_OUTOFMEMORY (the list is then unchanged).
  struct KeyAndType {
    const std::string* key;
    uint32_t type;
  };
  HRESULT Assign(const std::vector<KeyAndType>& entries);

  size_t size() const { return live_count_; }

  // Exchanges the contents of two lists; cannot fail.
  void Swap(SafeList* other);

  // Calls visit(key, type) for each entry in list order: load order, then
  // additions in order. Stops at, and returns, the first failure.
  template <typename Visit>
  HRESULT ForEachEntry(Visit visit) const {
    for (const Entry& entry : entries_) {
      if (entry.live) ZELK_RETURN_IF_FAILED(visit(entry.key, entry.type));
    }
    return S_OK;
  }

 private:
  struct Entry {
    // The URL text as stored: listed, matched and compared.
    std::string key;
    // The subkey's real name when `key` is not its exact narrow form (a name
    // the code page cannot hold); null otherwise.
    std::unique_ptr<const std::wstring> registry_name;
    StoredUrl url;
    uint32_t type = kPage;
    uint32_t host_hash = 0;
    uint32_t domain_hash = 0;
    uint32_t name_hash = 0;
    bool live = true;

    UrlView view() const;
  };
  // Hash -> position in entries_. Positions grow with list order, so the
  // lowest matching position is the first match in list order.
  using Index = std::unordered_multimap<uint32_t, uint32_t>;

  HRESULT ReadEntries();
  HRESULT Candidates(const UrlView& url, std::vector<uint32_t>* positions) const;
  HRESULT SameSubkeyCandidates(const Entry& added, const std::wstring& name,
                               std::vector<uint32_t>* positions) const;
  HRESULT RemoveOverlapping(const RegistryKey& list_key, const Entry& added,
                            const std::vector<uint32_t>& candidates,
                            const std::vector<uint32_t>& same_subkey, bool* covered);
  HRESULT RemoveEntry(const RegistryKey& list_key, uint32_t position);
  void Append(Entry&& entry);
  void DropLast();
  void CompactIfSparse();
  long ListCodeFor(const UrlView& url) const;

  // Live entries and the holes that removals leave, in list order.
  std::vector<Entry> entries_;
  size_t live_count_ = 0;
  Index by_host_;
  Index by_domain_;
  Index by_name_;
};

}  // namespace zelk
