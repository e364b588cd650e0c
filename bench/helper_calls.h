// The calls the benchmark makes on an IZelkHelper, the same whether the
// pointer is a proxy to the server or the object itself. Each checks the
// answer, so that a measurement never times a call that did something else.
#pragma once

#include <windows.h>

#include <cstddef>

#include "zelk_admin.h"

namespace zelk {
namespace bench {

// get_AutoShow: answered from the settings cache, the cheapest call there is.
HRESULT ReadAutoShow(IZelkHelper* helper);

// IsUrlProtected of `url`, which must be answered with `expected`; else
// E_UNEXPECTED.
HRESULT ExpectProtectionCode(IZelkHelper* helper, BSTR url, long expected);

// IsUrlProtected of `url`, which must be answered with "not protected".
HRESULT AskUnprotectedUrl(IZelkHelper* helper, BSTR url);

// ProtectPage of `url` then UnprotectUrl of it, both S_OK: the list ends as
// it began when `url` is covered by no entry.
HRESULT ProtectThenUnprotect(IZelkHelper* helper, BSTR url);

// ProtectThenUnprotect, checking with IsUrlProtected that `url` is a
// protected page in between and unprotected before and after: done once
// before the pair is timed, so that it never times calls that did nothing.
HRESULT CheckProtectThenUnprotect(IZelkHelper* helper, BSTR url);

// The number of entries the object holds (get_SafeList).
HRESULT CountListed(IZelkHelper* helper, size_t* count);

// CountListed, and E_UNEXPECTED with a message when it is not `expected`
// (for instance a server that did not restart and kept its old list).
HRESULT ExpectListed(IZelkHelper* helper, size_t expected);

}  // namespace bench
}  // namespace zelk
