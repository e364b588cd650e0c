#include "automation/settings_store.h"

#include "platform/registry_key.h"
#include "platform/status.h"

namespace zelk {

namespace {

void ReadFlag(const RegistryKey& key, const char* name, int32_t* field) {
  DWORD value = 0;
  if (SUCCEEDED(key.ReadDword(name, &value))) *field = static_cast<int32_t>(value);
}

HRESULT OpenSettingsKey(REGSAM access, RegistryKey* key) {
  return key->Open(HKEY_LOCAL_MACHINE, kSettingsKeyPath, access);
}

struct DwordDefault {
  const char* name;
  DWORD value;
};

void WriteDwordIfMissing(const RegistryKey& key, const DwordDefault& entry) {
  DWORD existing = 0;
  if (FAILED(key.ReadDword(entry.name, &existing))) key.WriteDword(entry.name, entry.value);
}

}  // namespace

HRESULT LoadSettings(Settings* settings) {
  *settings = Settings();
  RegistryKey key;
  ZELK_RETURN_IF_FAILED(OpenSettingsKey(kReadAccess, &key));
  ReadFlag(key, setting::kAutoShow, &settings->autoShow);
  ReadFlag(key, setting::kPlaySound, &settings->playSound);
  ReadFlag(key, setting::kProtectLocal, &settings->protectLocal);
  ReadFlag(key, setting::kProtectHttps, &settings->protectHttps);
  ReadFlag(key, setting::kTotalPopups, &settings->totalPopups);
  ReadFlag(key, setting::kLogPopup, &settings->logPopup);
  ReadFlag(key, setting::kCheckSoftPopup, &settings->checkSoftPopup);
  // A sound file that cannot be read back whole (too long, wrong type) counts
  // as none rather than as a truncated path.
  std::string sound_file;
  if (SUCCEEDED(key.ReadString(setting::kSoundFile, &sound_file))) settings->soundFile.swap(sound_file);
  return S_OK;
}

HRESULT WriteSettingDword(const char* name, DWORD value) {
  RegistryKey key;
  ZELK_RETURN_IF_FAILED(OpenSettingsKey(kReadWriteAccess, &key));
  return key.WriteDword(name, value);
}

HRESULT WriteSettingString(const char* name, const std::string& value) {
  RegistryKey key;
  ZELK_RETURN_IF_FAILED(OpenSettingsKey(kReadWriteAccess, &key));
  return key.WriteString(name, value);
}

HRESULT WriteDefaultSettings(const std::string& log_file_path) {
  RegistryKey key;
  ZELK_RETURN_IF_FAILED(OpenSettingsKey(kReadWriteAccess, &key));
  static const DwordDefault kLeadingDefaults[] = {{setting::kAutoShow, 1}, {setting::kPlaySound, 1}};
  static const DwordDefault kTrailingDefaults[] = {
      {setting::kProtectLocal, 1}, {setting::kProtectHttps, 1}, {setting::kTotalPopups, 0},
      {setting::kLogPopup, 1},     {setting::kCheckSoftPopup, 0}};
  for (const DwordDefault& entry : kLeadingDefaults) WriteDwordIfMissing(key, entry);
  std::string sound_file;
  if (FAILED(key.ReadString(setting::kSoundFile, &sound_file))) {
    key.WriteString(setting::kSoundFile, std::string());
  }
  for (const DwordDefault& entry : kTrailingDefaults) WriteDwordIfMissing(key, entry);
  ZELK_RETURN_IF_FAILED(key.WriteDword(setting::kLogCount, 0));
  return key.WriteString(setting::kLogFile, log_file_path);
}

}  // namespace zelk
