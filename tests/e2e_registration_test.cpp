// The real executable's /RegServer and /UnregServer against the prefix's registry: what the
// executable supplies to its scripts (its path, the AppID), the type library, the defaults,
// the switch rules and the exit codes; the scripts' own entries: registry_script_test. Every
// test leaves the server registered from the build folder again and the settings as they were.
#include <windows.h>

#include <algorithm>
#include <string>

#include "tests/hardening_e2e.h"  // with e2e_support.h

namespace zelk {
namespace {

using namespace zelk::testing;

const std::string kClassKey = "CLSID\\{65134986-1887-42F1-825B-DEF16C9BDF90}";
const std::string kServerKey = kClassKey + "\\LocalServer32";
constexpr char kAppIdKey[] = "AppID\\{324BEFAA-7245-4174-9D20-261A99027712}";
constexpr char kTypeLibKey[] = "TypeLib\\{17AE06AE-DEC8-4691-925A-65ACB14FABE0}";
constexpr char kInterfaceKey[] = "Interface\\{75B831C1-1D33-4176-B108-14CBF63581BA}";
constexpr char kAppId[] = "{324BEFAA-7245-4174-9D20-261A99027712}";
constexpr char kSettingsKey[] = "Software\\Zelk";
constexpr char kKeptEntry[] = "Software\\Zelk\\SafeList\\http://registration.test/kept";

bool KeyExists(HKEY root, const std::string& path) {
  UniqueHkey key;
  return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::string ReadString(HKEY root, const std::string& path, const char* name = nullptr) {
  char buffer[1024] = "<absent>";
  DWORD size = sizeof(buffer);
  RegGetValueA(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size);
  return buffer;
}

DWORD RunServerExe(const std::string& exe, const char* arguments) {
  return RunAndWait("\"" + exe + "\" " + arguments);
}

class RegistrationTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(0u, RunServerExe(ServerPath(), "/RegServer")); }
  ServerStateSnapshot settings_;  // taken once no server runs
};

TEST_F(RegistrationTest, FreshRegistrationWritesTheEntriesAndTheDefaults) {
  ASSERT_EQ(0u, RunServerExe(ServerPath(), "/UnregServer"));
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
  ASSERT_EQ(0u, RunServerExe(ServerPath(), "-regserver"));
  const HKEY kClasses = HKEY_CLASSES_ROOT;
  // Both scripts ran with this executable's replacements; the settings come from the code.
  const struct { HKEY root; std::string path; const char* name; std::string value; } strings[] = {
      {kClasses, kClassKey, "AppID", kAppId},
      {kClasses, kServerKey, nullptr, ServerPath()},
      {kClasses, "AppID\\ZelkAdmin.EXE", "AppID", kAppId},
      {HKEY_LOCAL_MACHINE, kSettingsKey, "SoundFile", ""},
      {HKEY_LOCAL_MACHINE, kSettingsKey, "LogFile", TestFolder() + "Zelk.log"},
      {HKEY_LOCAL_MACHINE, kSettingsKey, "Version", "1.50"},
  };
  for (const auto& entry : strings) {
    EXPECT_EQ(entry.value, ReadString(entry.root, entry.path, entry.name)) << entry.path;
  }
  for (const char* key : {kTypeLibKey, kInterfaceKey}) EXPECT_TRUE(KeyExists(kClasses, key)) << key;
  // The settings key holds exactly these 8 numbers, the 3 strings above and nothing else.
  const std::pair<const char*, DWORD> numbers[] = {
      {"AutoShow", 1}, {"PlaySound", 1},      {"ProtectLocal", 1},   {"ProtectHttps", 1},
      {"LogPopup", 1}, {"TotalPopups", 0}, {"CheckSoftPopup", 0}, {"LogCount", 0}};
  for (const auto& number : numbers) EXPECT_EQ(number.second, ReadSettingDword(number.first));
  UniqueHkey settings;
  DWORD values = 0;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, settings.put()));
  RegQueryInfoKeyA(settings.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                   nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(11u, values);
}

TEST_F(RegistrationTest, ReregistrationKeepsUserSettingsButResetsTheLog) {
  WriteSettingDwordForTest("AutoShow", 0);
  WriteSettingDwordForTest("TotalPopups", 57);
  WriteSettingDwordForTest("LogCount", 12);
  auto set_string = [](const char* name, const std::string& value, DWORD type = REG_SZ) {
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, name, type, value.c_str(),
                    static_cast<DWORD>(value.size() + 1));
  };
  set_string("SoundFile", "C:\\sounds\\mine.wav");
  set_string("LogFile", "C:\\elsewhere.log");
  set_string("CheckSoftPopup", "1");
  // The leftmost switch decides.
  ASSERT_EQ(0u, RunServerExe(ServerPath(), "-REGSERVER\t/UnregServer"));
  EXPECT_EQ(0u, ReadSettingDword("AutoShow"));
  EXPECT_EQ(57u, ReadSettingDword("TotalPopups"));
  EXPECT_EQ("C:\\sounds\\mine.wav", ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "SoundFile"));
  EXPECT_EQ(0u, ReadSettingDword("LogCount"));
  EXPECT_EQ(TestFolder() + "Zelk.log", ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "LogFile"));
  EXPECT_EQ(0u, ReadSettingDword("CheckSoftPopup"));  // a value of the wrong type is replaced

  set_string("SoundFile", "%TEMP%\\a.wav", REG_EXPAND_SZ);
  ASSERT_EQ(0u, RunServerExe(ServerPath(), "/RegServer"));
  EXPECT_EQ("", ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "SoundFile"));
}

TEST_F(RegistrationTest, UnregistrationRemovesTheClassAndTheLogUnlessBlocked) {
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, kKeptEntry, UniqueHkey().put()));
  const std::string log_file = ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "LogFile");
  ASSERT_TRUE(UniqueFileHandle(CreateFileA(log_file.c_str(), GENERIC_WRITE, 0, nullptr,
                                           CREATE_ALWAYS, 0, nullptr)));
  // A subkey the class script does not know blocks the removal: the log stays.
  const std::string foreign = kClassKey + "\\ForeignEntry";
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CLASSES_ROOT, foreign.c_str(), UniqueHkey().put()));
  EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)),
            RunServerExe(ServerPath(), "/UnregServer"));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(log_file.c_str()));
  EXPECT_EQ("1.50", ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "Version"));
  RegDeleteKeyA(HKEY_CLASSES_ROOT, foreign.c_str());

  ASSERT_EQ(0u, RunServerExe(ServerPath(), "/UnregServer /RegServer"));  // the leftmost decides
  for (const std::string& gone : {kClassKey, std::string(kAppIdKey), std::string(kTypeLibKey)}) {
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, gone)) << gone;
  }
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kKeptEntry));
  EXPECT_EQ("<absent>", ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "Version"));
  EXPECT_EQ(1u, ReadSettingDword("AutoShow"));
  EXPECT_EQ(log_file, ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "LogFile"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(log_file.c_str()));
  EXPECT_EQ(0u, RunServerExe(ServerPath(), "/UnregServer"));  // nothing left to remove
  for (const char* root : {"AppID", "CLSID"}) EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, root));
}

TEST_F(RegistrationTest, PathWithSpaceDashAndQuoteIsWrittenIntact) {
  const std::string folder = TestFolder() + "it's a-dir\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string copy = folder + "ZelkAdmin.exe";
  ASSERT_TRUE(CopyFileA(ServerPath().c_str(), copy.c_str(), FALSE));
  EXPECT_EQ(0u, RunServerExe(copy, "/RegServer"));
  EXPECT_EQ(copy, ReadString(HKEY_CLASSES_ROOT, kServerKey));
  EXPECT_EQ(folder + "Zelk.log", ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "LogFile"));
  {  // and the class starts from there
    ScopedComInitializer com;
    ComPtr<IZelkHelper> helper;
    EXPECT_EQ(S_OK, CreateServerObject(&helper));
  }
  WaitForNoServer();
  DeleteFileA(copy.c_str());
  RemoveDirectoryA(folder.c_str());
}

TEST_F(RegistrationTest, LogPathThatCannotBeStoredWritesNothing) {
  // A folder path of 253 characters: "Z.exe" fits in MAX_PATH, "Zelk.log"
  // beside it would not fit in the 260-byte registry string buffer.
  std::string folder = "C:\\zelk-long\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  while (folder.size() < 253) {
    folder += std::string(std::min<size_t>(40, 252 - folder.size()), 'd') + "\\";
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      GTEST_SKIP() << "this file system refuses a folder path of " << folder.size() << " bytes";
    }
  }
  const std::string copy = folder + "Z.exe";
  ASSERT_TRUE(CopyFileA(ServerPath().c_str(), copy.c_str(), FALSE));
  EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)),
            RunServerExe(copy, "/RegServer"));
  EXPECT_EQ(ServerPath(), ReadString(HKEY_CLASSES_ROOT, kServerKey));
  DeleteFileA(copy.c_str());
}

}  // namespace
}  // namespace zelk
