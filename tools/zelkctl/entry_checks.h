// What the server will do with an entry, worked out by zelkctl before it
// changes anything: the same key rules and the same matching, so that an
// import can keep an entry before the first call. Whether the server takes a
// URL at all is WhyServerRefuses (safelist/entry_line.h).
#pragma once

#include <string>

#include "tools/zelkctl/typed_safe_list.h"

namespace zelk {
namespace ctl {

// Why protecting `entry`'s key with its type would not make the same entry
// again; empty when it would. May throw std::bad_alloc.
std::wstring WhyNotRestorable(const TypedEntry& entry);

// Whether UnprotectUrl of `url_entry`'s key removes `other`.
// May throw std::bad_alloc.
bool UnprotectRemoves(const TypedEntry& url_entry, const TypedEntry& other);

}  // namespace ctl
}  // namespace zelk
