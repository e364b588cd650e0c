// The layout of the program's settings key under HKEY_LOCAL_MACHINE: its
// path, its SafeList subkey, and the names of its values. Every reader and
// writer of the key takes the names from here.
#pragma once

namespace zelk {

constexpr const char kSettingsKeyPath[] = "Software\\Zelk";
constexpr const char kSafeListKeyPath[] = "Software\\Zelk\\SafeList";
constexpr const char kSafeListSubkeyName[] = "SafeList";

namespace setting {
constexpr const char kAutoShow[] = "AutoShow";
constexpr const char kPlaySound[] = "PlaySound";
constexpr const char kSoundFile[] = "SoundFile";
constexpr const char kProtectLocal[] = "ProtectLocal";
constexpr const char kProtectHttps[] = "ProtectHttps";
constexpr const char kTotalPopups[] = "TotalPopups";
constexpr const char kLogPopup[] = "LogPopup";
constexpr const char kCheckSoftPopup[] = "CheckSoftPopup";
constexpr const char kLogCount[] = "LogCount";
constexpr const char kLogFile[] = "LogFile";
}  // namespace setting

}  // namespace zelk
