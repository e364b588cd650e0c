// The user's list of protected pages, sites and domains, kept in memory and,
// as one subkey per entry, under HKEY_LOCAL_MACHINE\Software\Zelk\SafeList.
//
// Each subkey is named by the entry's key text (the URL as stored) and its
// default value is a REG_DWORD holding the entry's type. Memory and registry
// stay in step after every operation, whether it succeeds or fails: an entry
// enters the list only once its subkey and value are written, and leaves it
// only once its subkey is gone. Questions are answered from memory alone.
//
// Text is narrow (the ANSI code page); the automation layer converts.
// Not thread-safe: the server calls it from its one apartment thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry_key.h"
#include "safelist/url_parts.h"

namespace zelk {

enum EntryType : uint32_t { kPage = 1, kSite = 2, kDomain = 4 };

// Answers of SafeList::IsProtected.
constexpr long kNotProtected = 0;
constexpr long kProtectedByPage = 1;
constexpr long kProtectedBySite = 2;
constexpr long kProtectedByDomain = 4;
constexpr long kProtectedAsLocal = 8;
constexpr long kProtectedAsHttps = 16;

// A registry key name holds at most this many characters.
constexpr size_t kMaxKeyTextCharacters = 255;

struct SafeListEntry {
  // The URL text as stored; also the name of the entry's subkey.
  std::string key;
  // `key` decomposed with DecomposeListed (reset if it does not decompose).
  ListedUrl url;
  // EntryType bits. This class writes exactly one bit; a loaded entry holds
  // whatever its subkey's value says.
  uint32_t type = kPage;
};

class SafeList {
 public:
  // Reads every subkey of the SafeList key (KEY_READ) into a new list, in the
  // registry's enumeration order, and replaces the current list with it.
  // A subkey whose default value is missing or not a REG_DWORD is a Page
  // entry; a name that does not decompose gives an entry with a reset url.
  // Fails with the registry's status when the key cannot be opened or
  // queried, or E_OUTOFMEMORY; the current list is then unchanged.
  HRESULT Load();

  // Protects a page, site or domain. A text that does not decompose is tried
  // again with "http://" in front; the text that decomposed is the key.
  // Every entry of another type that overlaps the new one is removed, and so
  // is an entry whose key names the same subkey (the registry ignores letter
  // case); if an entry of the same type already covers it, S_OK and nothing
  // more.
  //   E_INVALIDARG: `type` is not one EntryType; the text does not decompose
  //     even with the prefix; or the key contains '\' or is longer than 255
  //     characters (it could not be stored as one subkey). Nothing changed.
  //   Registry status: the SafeList key cannot be opened (nothing changed),
  //     an overlapping entry's subkey cannot be deleted (entries removed
  //     before it stay removed, it stays), or the new subkey or its value
  //     cannot be written (no new entry in memory or registry).
  //   E_OUTOFMEMORY: nothing changed.
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
  // else kNotProtected. No "http://" is added.
  // E_POINTER for a null `code`; E_INVALIDARG when the text does not
  // decompose and E_OUTOFMEMORY leave *code unwritten.
  HRESULT IsProtected(const std::string& narrow_url, bool protect_local, bool protect_https,
                      long* code) const;

  // Load order, then additions in order; removals keep the others' order.
  const std::vector<SafeListEntry>& entries() const { return entries_; }

 private:
  HRESULT RemoveOverlapping(const RegistryKey& list_key, const SafeListEntry& added, bool* covered);
  HRESULT RemoveEntry(const RegistryKey& list_key, size_t index);
  long ListCodeFor(const ListedUrl& url) const;

  std::vector<SafeListEntry> entries_;
};

}  // namespace zelk
