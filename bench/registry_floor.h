// The floor under the safe list's load: the registry work alone.
#pragma once

#include <windows.h>

#include <cstddef>

namespace zelk {
namespace bench {

// Reads every subkey of HKLM\Software\Zelk\SafeList with nothing but
// RegEnumKeyExW, RegOpenKeyExW, RegQueryValueExW (the default value, a
// REG_DWORD) and RegCloseKey per subkey: no conversion, no decomposition, no
// storage. `read` is the number of subkeys read.
HRESULT ReadListBare(size_t* read);

}  // namespace bench
}  // namespace zelk
