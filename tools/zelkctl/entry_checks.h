// What the server will do with a URL or an entry, worked out by zelkctl
// before it changes anything: the same key rules and the same matching, so
// that an import can refuse a file, or keep an entry, before the first call.
#pragma once

#include <string>

#include "tools/zelkctl/typed_safe_list.h"

namespace zelk {
namespace ctl {

// Why a protect member refuses `url`: a text the code page cannot hold, a
// '\', more than 255 characters, or no URL even with "http://" in front.
// Empty when the server takes it.
std::wstring WhyServerRefuses(const std::wstring& url);

// Why protecting `entry`'s key with its type would not make the same entry
// again; empty when it would. May throw std::bad_alloc.
std::wstring WhyNotRestorable(const TypedEntry& entry);

// Whether UnprotectUrl of `url_entry`'s key removes `other`.
// May throw std::bad_alloc.
bool UnprotectRemoves(const TypedEntry& url_entry, const TypedEntry& other);

}  // namespace ctl
}  // namespace zelk
