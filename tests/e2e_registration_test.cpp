// The real executable's /RegServer and /UnregServer against the prefix's
// registry: the entries written and removed, the defaults, the switch rules
// and the exit codes. Every test leaves the server registered from the build
// folder again.
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e_support.h"

namespace zelk {
namespace {

using namespace zelk::testing;

constexpr char kClassKey[] = "CLSID\\{65134986-1887-42F1-825B-DEF16C9BDF90}";
constexpr char kAppIdKey[] = "AppID\\{324BEFAA-7245-4174-9D20-261A99027712}";
constexpr char kTypeLibKey[] = "TypeLib\\{17AE06AE-DEC8-4691-925A-65ACB14FABE0}";
constexpr char kInterfaceKey[] = "Interface\\{75B831C1-1D33-4176-B108-14CBF63581BA}";
constexpr char kSettingsKey[] = "Software\\Zelk";

bool KeyExists(HKEY root, const char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::string ReadString(HKEY root, const char* path, const char* name) {
  char buffer[1024] = "<absent>";
  DWORD size = sizeof(buffer);
  RegGetValueA(root, path, name, RRF_RT_REG_SZ, nullptr, buffer, &size);
  return buffer;
}

DWORD ValueCount(HKEY root, const char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0xdeadbeef;
  DWORD values = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                   nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return values;
}

DWORD RunServerExe(const std::string& exe, const char* arguments) {
  return RunAndWait("\"" + exe + "\" " + arguments);
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override { WaitForNoServer(); }
  void TearDown() override {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Zelk\\SafeList\\http://registration.test/kept");
    EXPECT_EQ(0u, RunServerExe(ServerPath(), "/RegServer"));
  }
};

TEST_F(RegistrationTest, FreshRegistrationWritesTheEntriesAndTheDefaults) {
  ASSERT_EQ(0u, RunServerExe(ServerPath(), "/UnregServer"));
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
  ASSERT_EQ(0u, RunServerExe(ServerPath(), "-regserver"));

  EXPECT_EQ("ZelkHelper Class", ReadString(HKEY_CLASSES_ROOT, "Zelk.Helper.1", nullptr));
  EXPECT_EQ("{65134986-1887-42F1-825B-DEF16C9BDF90}",
            ReadString(HKEY_CLASSES_ROOT, "Zelk.Helper.1\\CLSID", nullptr));
  EXPECT_EQ("ZelkHelper Class", ReadString(HKEY_CLASSES_ROOT, "Zelk.Helper", nullptr));
  EXPECT_EQ("Zelk.Helper.1", ReadString(HKEY_CLASSES_ROOT, "Zelk.Helper\\CurVer", nullptr));
  EXPECT_EQ("ZelkHelper Class", ReadString(HKEY_CLASSES_ROOT, kClassKey, nullptr));
  EXPECT_EQ("{324BEFAA-7245-4174-9D20-261A99027712}", ReadString(HKEY_CLASSES_ROOT, kClassKey, "AppID"));
  const std::string class_key(kClassKey);
  EXPECT_EQ(ServerPath(), ReadString(HKEY_CLASSES_ROOT, (class_key + "\\LocalServer32").c_str(), nullptr));
  EXPECT_EQ("Zelk.Helper.1", ReadString(HKEY_CLASSES_ROOT, (class_key + "\\ProgID").c_str(), nullptr));
  EXPECT_EQ("Zelk.Helper",
            ReadString(HKEY_CLASSES_ROOT, (class_key + "\\VersionIndependentProgID").c_str(), nullptr));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, (class_key + "\\Programmable").c_str()));
  EXPECT_EQ("{17AE06AE-DEC8-4691-925A-65ACB14FABE0}",
            ReadString(HKEY_CLASSES_ROOT, (class_key + "\\TypeLib").c_str(), nullptr));
  EXPECT_EQ("ZelkAdmin", ReadString(HKEY_CLASSES_ROOT, kAppIdKey, nullptr));
  EXPECT_EQ("{324BEFAA-7245-4174-9D20-261A99027712}",
            ReadString(HKEY_CLASSES_ROOT, "AppID\\ZelkAdmin.EXE", "AppID"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kInterfaceKey));

  // The settings key holds exactly the defaults and the version.
  EXPECT_EQ(11u, ValueCount(HKEY_LOCAL_MACHINE, kSettingsKey));
  EXPECT_EQ(1u, ReadSettingDword("AutoShow"));
  EXPECT_EQ(1u, ReadSettingDword("PlaySound"));
  EXPECT_EQ(1u, ReadSettingDword("ProtectLocal"));
  EXPECT_EQ(1u, ReadSettingDword("ProtectHttps"));
  EXPECT_EQ(0u, ReadSettingDword("TotalPopups"));
  EXPECT_EQ(1u, ReadSettingDword("LogPopup"));
  EXPECT_EQ(0u, ReadSettingDword("CheckSoftPopup"));
  EXPECT_EQ(0u, ReadSettingDword("LogCount"));
  EXPECT_EQ("", ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "SoundFile"));
  EXPECT_EQ(TestFolder() + "Zelk.log", ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "LogFile"));
  EXPECT_EQ("1.50", ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "Version"));
  EXPECT_EQ("", ReadString(HKEY_LOCAL_MACHINE, "Software\\Zelk\\SafeList", nullptr));
}

TEST_F(RegistrationTest, ReregistrationKeepsUserSettingsButResetsTheLog) {
  WriteSettingDwordForTest("AutoShow", 0);
  WriteSettingDwordForTest("TotalPopups", 57);
  WriteSettingDwordForTest("LogCount", 12);
  const char sound[] = "C:\\sounds\\mine.wav";
  RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, "SoundFile", REG_SZ, sound, sizeof(sound));
  const char elsewhere[] = "C:\\elsewhere.log";
  RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, "LogFile", REG_SZ, elsewhere, sizeof(elsewhere));
  const char text_flag[] = "1";
  RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, "CheckSoftPopup", REG_SZ, text_flag, sizeof(text_flag));

  ASSERT_EQ(0u, RunServerExe(ServerPath(), "/RegServer"));
  EXPECT_EQ(0u, ReadSettingDword("AutoShow"));
  EXPECT_EQ(57u, ReadSettingDword("TotalPopups"));
  EXPECT_EQ(sound, ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "SoundFile"));
  EXPECT_EQ(0u, ReadSettingDword("LogCount"));
  EXPECT_EQ(TestFolder() + "Zelk.log", ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "LogFile"));
  EXPECT_EQ(0u, ReadSettingDword("CheckSoftPopup"));  // a value of the wrong type is replaced

  const std::string expandable = "%TEMP%\\a.wav";
  RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, "SoundFile", REG_EXPAND_SZ, expandable.c_str(),
                  static_cast<DWORD>(expandable.size() + 1));
  ASSERT_EQ(0u, RunServerExe(ServerPath(), "/RegServer"));
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(ReadSetting("SoundFile", &type, &data));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(std::string(1, '\0'), data);
  WriteSettingDwordForTest("AutoShow", 1);
  WriteSettingDwordForTest("TotalPopups", 0);
}

TEST_F(RegistrationTest, UnregistrationRemovesTheClassButKeepsSettingsAndSafeList) {
  HKEY entry = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                                           "Software\\Zelk\\SafeList\\http://registration.test/kept",
                                           0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &entry, nullptr));
  RegCloseKey(entry);
  const std::string log_file = ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "LogFile");
  HANDLE file = CreateFileA(log_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);

  ASSERT_EQ(0u, RunServerExe(ServerPath(), "/UnregServer"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Zelk.Helper.1"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Zelk.Helper"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kAppIdKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "AppID\\ZelkAdmin.EXE"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "AppID"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Zelk\\SafeList\\http://registration.test/kept"));
  EXPECT_EQ("<absent>", ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "Version"));
  EXPECT_EQ(1u, ReadSettingDword("AutoShow"));
  EXPECT_EQ(log_file, ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "LogFile"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(log_file.c_str()));

  // Unregistering what is not registered leaves everything as it was and
  // reports the type library's answer.
  const DWORD again = RunServerExe(ServerPath(), "/UnregServer");
  EXPECT_TRUE(again == 0u || FAILED(static_cast<HRESULT>(again))) << std::hex << again;
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
}

TEST_F(RegistrationTest, BlockedUnregistrationFailsAndKeepsTheLog) {
  const std::string foreign = std::string(kClassKey) + "\\ForeignEntry";
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, foreign.c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegCloseKey(key);
  const std::string log_file = ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "LogFile");
  HANDLE file = CreateFileA(log_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);

  EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)), RunServerExe(ServerPath(), "/UnregServer"));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(log_file.c_str()));
  EXPECT_EQ("1.50", ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "Version"));
  RegDeleteKeyA(HKEY_CLASSES_ROOT, foreign.c_str());
  DeleteFileA(log_file.c_str());
}

TEST_F(RegistrationTest, LeftmostSwitchDecides) {
  ASSERT_EQ(0u, RunServerExe(ServerPath(), "/UnregServer /RegServer"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  ASSERT_EQ(0u, RunServerExe(ServerPath(), "-REGSERVER\t/UnregServer"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
}

TEST_F(RegistrationTest, PathWithSpaceDashAndQuoteIsWrittenIntact) {
  const std::string folder = TestFolder() + "it's a-dir\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string copy = folder + "ZelkAdmin.exe";
  ASSERT_TRUE(CopyFileA(ServerPath().c_str(), copy.c_str(), FALSE));
  EXPECT_EQ(0u, RunServerExe(copy, "/RegServer"));
  EXPECT_EQ(copy, ReadString(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\LocalServer32").c_str(), nullptr));
  EXPECT_EQ(folder + "Zelk.log", ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "LogFile"));

  // And the class starts from there.
  {
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
      GTEST_SKIP() << "this file system refuses a folder path of " << folder.size() << " characters";
    }
  }
  ASSERT_EQ(253u, folder.size());
  const std::string copy = folder + "Z.exe";
  ASSERT_TRUE(CopyFileA(ServerPath().c_str(), copy.c_str(), FALSE));
  const std::string before = ReadString(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\LocalServer32").c_str(), nullptr);
  EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)), RunServerExe(copy, "/RegServer"));
  EXPECT_EQ(before, ReadString(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\LocalServer32").c_str(), nullptr));
  DeleteFileA(copy.c_str());
}

}  // namespace
}  // namespace zelk
