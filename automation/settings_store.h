// The settings key HKLM\Software\Zelk: value names, defaults, and the reads and
// writes the automation object and registration make. Every call opens the key
// and closes it again before returning.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/settings_layout.h"

namespace zelk {

// The longest sound file path (in bytes of narrow text) that can be read back.
constexpr size_t kMaxSoundFileBytes = 259;

// The cached settings of the automation object. Flags hold whatever 32-bit
// number was loaded until the first put, then exactly 0 or 1.
struct Settings {
  int32_t playSound = 0;
  int32_t autoShow = 0;
  int32_t protectLocal = 0;
  int32_t protectHttps = 0;
  int32_t totalPopups = 0;
  int32_t logPopup = 0;
  int32_t checkSoftPopup = 0;
  std::string soundFile;
};

// Loads every setting. A value that is missing or of another type leaves its
// field at 0 (empty for the sound file), not at its default: defaults belong to
// registration. Fails with the registry's status when the key cannot be opened;
// *settings is then all zero.
HRESULT LoadSettings(Settings* settings);

// Write one value through, opening the key for reading and writing. They return
// the registry's status; nothing is changed on failure.
HRESULT WriteSettingDword(const char* name, DWORD value);
HRESULT WriteSettingString(const char* name, const std::string& value);

// The registration defaults: each of AutoShow ... CheckSoftPopup is written only
// when it does not read back as its proper type; LogCount is reset to 0 and
// LogFile set to `log_file_path` whatever they held.
HRESULT WriteDefaultSettings(const std::string& log_file_path);

}  // namespace zelk
