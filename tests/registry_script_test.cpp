// Tests of the registry script interpreter and of the server's two scripts.
// Every predefined root key of the process is redirected into a scratch key.
#include "server/registry_script.h"

#include <windows.h>

#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "platform/registry_key.h"
#include "tests/registry_sandbox.h"

namespace zelk {
namespace {

constexpr HRESULT kSyntaxError = DISP_E_EXCEPTION;
const std::pair<HKEY, const char*> kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKCR"}, {HKEY_CURRENT_USER, "HKCU"},   {HKEY_LOCAL_MACHINE, "HKLM"},
    {HKEY_USERS, "HKU"},         {HKEY_CURRENT_CONFIG, "HKCC"}, {HKEY_DYN_DATA, "HKDD"},
    {HKEY_PERFORMANCE_DATA, "HKPD"}};
using Replacements = std::vector<std::pair<const wchar_t*, const wchar_t*>>;

HRESULT RunText(const std::string& script, bool register_mode, const Replacements& pairs = {}) {
  RegistryScript interpreter;
  for (const auto& p : pairs) EXPECT_EQ(S_OK, interpreter.AddReplacement(p.first, p.second));
  return interpreter.RunScript(script.c_str(), register_mode);
}
HRESULT Register(const std::string& script) { return RunText(script, true); }
HRESULT Unregister(const std::string& script) { return RunText(script, false); }

class RegistryScriptTest : public ::testing::Test {
 protected:
  RegistryScriptTest() {
    for (const auto& root : kRoots) {
      RegistryKey stand_in;
      EXPECT_EQ(S_OK, stand_in.Create(sandbox_.root(), root.second, KEY_ALL_ACCESS));
      EXPECT_EQ(ERROR_SUCCESS, RegOverridePredefKey(root.first, stand_in.get())) << root.second;
    }
  }
  ~RegistryScriptTest() override {
    for (const auto& root : kRoots) RegOverridePredefKey(root.first, nullptr);
  }

  void Put(std::initializer_list<std::string> paths) {  // creates keys below the scratch key
    for (const std::string& path : paths) {
      RegistryKey key;
      ASSERT_EQ(S_OK, key.Create(sandbox_.root(), path.c_str(), KEY_ALL_ACCESS)) << path;
    }
  }

  // Every key below `path` and every value, sorted and joined by "|": "key:name=text" for
  // a REG_SZ ending in its only NUL, else "key:name#type:hex bytes".
  std::string Tree(const std::string& path) const {
    std::set<std::string> entries;
    Walk(sandbox_.root(), path, "", &entries);
    std::string joined;
    for (const std::string& entry : entries) joined += (joined.empty() ? "" : "|") + entry;
    return joined;
  }
  static void Walk(HKEY parent, const std::string& subkey, const std::string& prefix,
                   std::set<std::string>* entries) {
    RegistryKey key;
    if (FAILED(key.Open(parent, subkey.c_str(), KEY_READ))) return;
    char name[300], raw[513] = {};  // raw[512] stays NUL
    DWORD name_size = sizeof(name), len = sizeof(raw) - 1, type = 0;
    for (DWORD i = 0; RegEnumValueA(key.get(), i, name, &name_size, nullptr, &type,
                                    reinterpret_cast<BYTE*>(raw), &len) == ERROR_SUCCESS;
         ++i, name_size = sizeof(name), len = sizeof(raw) - 1) {
      std::string text = "#" + std::to_string(type) + ":";
      for (DWORD j = 0; j < len; ++j) text += {kHex[(raw[j] >> 4) & 15], kHex[raw[j] & 15]};
      if (type == REG_SZ && std::string(raw).size() == len - 1) text = "=" + std::string(raw);
      entries->insert(prefix + ":" + name + text);
    }
    std::string child;
    for (DWORD i = 0; SUCCEEDED(key.EnumSubkey(i, &child)); ++i) {
      const std::string path = prefix.empty() ? child : prefix + "\\" + child;
      entries->insert(path);
      Walk(key.get(), child, path, entries);
    }
  }

  static constexpr char kHex[] = "0123456789abcdef";
  testing::RegistrySandbox sandbox_;  // its scratch key holds a stand-in for every root
};

TEST_F(RegistryScriptTest, WritesQuotedTextReplacementsAndEveryValueType) {
  ASSERT_EQ(S_OK, RunText("HKCU { 'a b' = s 'x''y' { val p = s '%Pct%' val q = s '%QUOTE%' "
                          "val n = s '%Nested%' val c = s '50%%' } k = S '' { val d = D 42 "
                          "val x = d 4294967295 val b = B 01AB0F val f = b 'fF00' "
                          "val m = M 'a\\0b' } }", true,
                          {{L"Pct", L"100%"}, {L"Quote", L"it''s"}, {L"Nested", L"%Pct%"},
                           {L"quote", L"not the first pair"}}));
  EXPECT_EQ("a b|a b:=x'y|a b:c=50%|a b:n=%Pct%|a b:p=100%|a b:q=it's|k|k:=|k:b#3:01ab0f|"
            "k:d#4:2a000000|k:f#3:ff00|k:m#7:6100620000|k:x#4:ffffffff", Tree("HKCU"));
}

// Each failure is returned as is; the clean-up walk then removes what the failing root block
// named, except NoRemove keys and foreign keys, and leaves the other blocks alone.
TEST_F(RegistryScriptTest, FailedRegistrationReturnsTheFailureAndUndoesItsBlock) {
  const std::pair<const char*, HRESULT> cases[] = {
      {"val v = b 01AB0", E_FAIL},  // odd digit count
      {"val v = d abc", DISP_E_TYPEMISMATCH},  // the conversion's own status
      {"val v = d 4294967296", DISP_E_OVERFLOW},
      {"val v = s 'x' { 'lost' }", kSyntaxError},  // no key of its own holds the block
      {"'x' = s '%UNKNOWN%'", kSyntaxError},
      {"'x' = s '%ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456%'", E_FAIL},  // name over 31 bytes
  };
  Put({"HKLM\\earlier", "HKCU\\kept\\spared", "HKCU\\kept\\foreign"});
  for (const auto& test : cases) {
    const std::string script = "HKLM { 'earlier' } HKCU { NoRemove 'kept' { 'made' = s 'x' { "
                               "'inner' { val v = d 1 } } NoRemove 'spared' val a = s 'x' " +
                               std::string(test.first) + " } } HKLM { 'never' }";
    EXPECT_EQ(test.second, Register(script)) << script;
    EXPECT_EQ("earlier", Tree("HKLM")) << script;
    EXPECT_EQ("kept|kept\\foreign|kept\\spared", Tree("HKCU")) << script;
  }
}

// Also: NoRemove keeps keys (even empty ones) and values; ForceRemove empties an ordinary key
// first; Delete skips its assignment; neither touches a protected name such as CLSID.
TEST_F(RegistryScriptTest, RootNamesAndKeywordsMatchInAnyCase) {
  const std::string roots = "hkcr { a } HKEY_CLASSES_ROOT { b } hkey_local_machine { c } "
                            "hku { d } HKEY_USERS { e } Hkcc { f } HKEY_DYN_DATA { g } hkpd { } "
                            "HKEY_CURRENT_CONFIG { h } hkdd { i } HKEY_current_USER { j } "
                            "HKEY_PERFORMANCE_DATA { }";
  ASSERT_EQ(S_OK, Register(roots));
  EXPECT_EQ("HKCC|HKCC\\f|HKCC\\h|HKCR|HKCR\\a|HKCR\\b|HKCU|HKCU\\j|HKDD|HKDD\\g|HKDD\\i|HKLM|"
            "HKLM\\c|HKPD|HKU|HKU\\d|HKU\\e", Tree(""));
  ASSERT_EQ(S_OK, Unregister(roots));
  EXPECT_EQ("HKCC|HKCR|HKCU|HKDD|HKLM|HKPD|HKU", Tree(""));
  Put({"HKCU\\old\\deeper\\deepest", "HKCU\\doomed\\inner", "HKCU\\CLSID\\existing"});
  // ForceRemove deletes children by their own names, however long, in any code page.
  const std::wstring foreign = L"HKCU\\old\\deeper\\\x0e01" + std::wstring(200, L'\xff41');
  RegistryKey foreign_key;
  ASSERT_EQ(S_OK, foreign_key.Create(sandbox_.root(), foreign.c_str(), KEY_ALL_ACCESS));
  foreign_key.Close();
  const std::string script = "hKcU { NOREMOVE 'k' = s 'd' { 'child' { 'deep' = s 'x' } "
                             "vAl gone = s 'x' noremove VAL kept = d 7 } NoRemove 'empty' "
                             "val top = s 'y' forceremove 'old' = s 'new' { 'child' } }";
  ASSERT_EQ(S_OK, Register(script + " HKCU { dElEtE 'doomed' = s 'ignored' DELETE 'absent' "
                                    "ForceRemove clsid { 'mine' } Delete CLSID }"));
  EXPECT_EQ(":top=y|CLSID|CLSID\\existing|CLSID\\mine|empty|k|k:=d|k:gone=x|k:kept#4:07000000|"
            "k\\child|k\\child\\deep|k\\child\\deep:=x|old|old:=new|old\\child", Tree("HKCU"));
  for (int pass = 0; pass < 2; ++pass) {  // on the second pass the values are missing: no error
    EXPECT_EQ(S_OK, Unregister(script)) << pass;
    EXPECT_EQ("CLSID|CLSID\\existing|CLSID\\mine|empty|k|k:=d|k:kept#4:07000000", Tree("HKCU"))
        << pass;
  }
}

TEST_F(RegistryScriptTest, MalformedScriptsAreDispatchExceptions) {
  const std::string name260(kMaxScriptNameBytes + 1, 'n');
  std::string deep = "HKCU { ";  // deeper than kMaxScriptNestingDepth
  for (int i = 0; i < 100000; ++i) deep += "n { ";
  const std::string cases[] = {
      "HKXX { }", "HKL { }", "HKCUX { }", "HKCU", "HKCU 'k'", "HKCU { 'k'", "HKCU { 'k' = s",
      "HKCU { val v s 'x' }", "HKCU { 'a\\b' }", "HKCU { ForceRemove 'a\\b' }",
      "HKCU { '' = s 'x' }", "HKCU { 'k' = s 'unterminated }", "HKCU { 'k' } }",
      "HKCU { '" + name260 + "' }", "HKCU { 'k' { val '" + name260 + "' = s 'x' } }",
      "HKCU { 'k' = s " + std::string(kMaxScriptTokenBytes + 1, 't') + " }", deep,
  };
  for (const std::string& script : cases) {
    EXPECT_EQ(kSyntaxError, Register(script)) << script.substr(0, 80);
    EXPECT_EQ(kSyntaxError, Unregister(script)) << script.substr(0, 80);
  }
  // The longest token and value name that fit are accepted.
  EXPECT_EQ(S_OK, Register("HKCU { 'k' = s " + std::string(kMaxScriptTokenBytes, 't') +
                           " { val '" + std::string(kMaxScriptNameBytes, 'n') + "' = s 'x' } }"));
}

const std::string kAppId = "{324BEFAA-7245-4174-9D20-261A99027712}";
const std::string kClassId = "{65134986-1887-42F1-825B-DEF16C9BDF90}";
const std::string kClassKey = "HKCR\\CLSID\\" + kClassId;
const Replacements kReplacements = {
    {L"APPID", L"{324BEFAA-7245-4174-9D20-261A99027712}"},
    {L"Module", L"C:\\Program Files\\Zelk''s Tools\\ZelkAdmin.exe"}};  // quote doubled

std::string ReadScript(const char* name) {
  std::ifstream file(std::string(ZELK_SOURCE_DIR) + "/resources/" + name);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
const std::string kScripts[] = {ReadScript("app_id.rgs"), ReadScript("class.rgs")};

// The server's scripts as registration runs them (app_id.rgs first, last when unregistering).
HRESULT RunBoth(bool register_mode) {
  const HRESULT status = RunText(kScripts[!register_mode], register_mode, kReplacements);
  return FAILED(status) ? status : RunText(kScripts[register_mode], register_mode, kReplacements);
}

TEST_F(RegistryScriptTest, ServerScriptsRegisterAndUnregisterKeepingSharedKeys) {
  ASSERT_EQ(S_OK, RunBoth(false));  // nothing there yet: succeeds and creates nothing
  EXPECT_EQ("", Tree("HKCR") + Tree("HKLM"));
  Put({"HKCR\\CLSID\\{other}"});
  ASSERT_EQ(S_OK, RunBoth(true));
  EXPECT_EQ("ZelkAdmin.EXE|ZelkAdmin.EXE:AppID=" + kAppId + "|" + kAppId + "|" + kAppId +
                ":=ZelkAdmin", Tree("HKCR\\AppID"));
  EXPECT_EQ(":=ZelkHelper Class|:AppID=" + kAppId + "|LocalServer32|LocalServer32:=C:\\Program "
            "Files\\Zelk's Tools\\ZelkAdmin.exe|ProgID|ProgID:=Zelk.Helper.1|Programmable|TypeLib|"
            "TypeLib:={17AE06AE-DEC8-4691-925A-65ACB14FABE0}|VersionIndependentProgID|"
            "VersionIndependentProgID:=Zelk.Helper", Tree(kClassKey));
  EXPECT_EQ(":=ZelkHelper Class|CLSID|CLSID:=" + kClassId + "|CurVer|CurVer:=Zelk.Helper.1/" +
            ":=ZelkHelper Class|CLSID|CLSID:=" + kClassId,
            Tree("HKCR\\Zelk.Helper") + "/" + Tree("HKCR\\Zelk.Helper.1"));
  const std::string safe_list = "|Software\\Zelk\\SafeList|Software\\Zelk\\SafeList:=";
  EXPECT_EQ("Software|Software\\Zelk|Software\\Zelk:Version=1.50" + safe_list, Tree("HKLM"));
  Put({kClassKey + "\\Implemented Categories"});  // a foreign subkey blocks unregistration
  EXPECT_EQ(HRESULT(0x80070005), RunBoth(false));
  EXPECT_EQ(":=ZelkHelper Class|Implemented Categories", Tree(kClassKey));
  RegDeleteKeyA(sandbox_.root(), (kClassKey + "\\Implemented Categories").c_str());
  ASSERT_EQ(S_OK, RunBoth(false));
  EXPECT_EQ("AppID|CLSID|CLSID\\{other}", Tree("HKCR"));
  EXPECT_EQ("Software|Software\\Zelk" + safe_list, Tree("HKLM"));
}

// Randomly damaged server scripts, run both ways: every run returns a status.
TEST_F(RegistryScriptTest, DamagedScriptsAlwaysReturnAStatus) {
  const char* const pieces[] = {"'", "{", "}", "=", "%", " ", "\n", "\\", "0", "%%", "''", "\x81",
                                "\xe4", " d 4x ", " b 012 ", " m 'a\\0' ", " D -1 ", " Delete ",
                                " NoRemove ", " val v = ", " ForceRemove ", " HKXX ", " HKPD "};
  std::mt19937 random(20240611);
  auto pick = [&random](size_t n) { return std::uniform_int_distribution<size_t>(0, n)(random); };
  int successes[2] = {0, 0};
  for (int run = 0; run < 400; ++run) {
    std::string script = kScripts[pick(1)];
    for (size_t i = pick(7) + 1; i-- > 0;) {
      const size_t at = pick(script.size());
      switch (pick(3)) {
        case 0: script.erase(at, pick(12)); break;
        case 1: script.insert(at, pieces[pick(std::size(pieces) - 1)]); break;
        case 2: script.insert(at, script.substr(pick(script.size()), pick(40))); break;
        default: script.resize(at); break;
      }
    }
    const bool register_mode = pick(1) == 0;
    const HRESULT status = RunText(script, register_mode, kReplacements);
    successes[register_mode] += status == S_OK;
    ASSERT_TRUE(status == S_OK || status == kSyntaxError || status == E_FAIL ||
                status == E_OUTOFMEMORY || status == DISP_E_TYPEMISMATCH ||
                status == DISP_E_OVERFLOW || HRESULT_FACILITY(status) == FACILITY_WIN32)
        << "run " << run << " status " << std::hex << status << "\n" << script;
  }
  EXPECT_TRUE(successes[0] > 0 && successes[1] > 0);  // some scripts survive to reach the registry
}

}  // namespace
}  // namespace zelk
