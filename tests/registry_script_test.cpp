// Tests of the registry script interpreter and of the server's two scripts.
// Every predefined root key of the process is redirected into a scratch key,
// so scripts may name HKCR, HKLM, HKCU and the others freely.
#include "server/registry_script.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "platform/registry_key.h"
#include "platform/unique_resource.h"

namespace zelk {
namespace {

constexpr HRESULT kSyntaxError = DISP_E_EXCEPTION;
constexpr HRESULT kAccessDenied = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);

const char kAppId[] = "{324BEFAA-7245-4174-9D20-261A99027712}";
const wchar_t kAppIdWide[] = L"{324BEFAA-7245-4174-9D20-261A99027712}";
const char kClassId[] = "{65134986-1887-42F1-825B-DEF16C9BDF90}";
const char kTypeLibId[] = "{17AE06AE-DEC8-4691-925A-65ACB14FABE0}";

// ---- An isolated registry: each root key is a subkey of one scratch key ----

struct SandboxedRoot {
  HKEY predefined;
  const char* subkey;
};

const SandboxedRoot kSandboxedRoots[] = {
    {HKEY_CLASSES_ROOT, "HKCR"},  {HKEY_CURRENT_USER, "HKCU"},     {HKEY_LOCAL_MACHINE, "HKLM"},
    {HKEY_USERS, "HKU"},          {HKEY_CURRENT_CONFIG, "HKCC"},   {HKEY_DYN_DATA, "HKDD"},
    {HKEY_PERFORMANCE_DATA, "HKPD"},
};

class IsolatedRegistry {
 public:
  IsolatedRegistry() {
    static LONG counter = 0;
    path_ = "Software\\ZelkTest\\script_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(InterlockedIncrement(&counter));
    RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    EXPECT_EQ(S_OK, scratch_.Create(HKEY_CURRENT_USER, path_.c_str(), KEY_ALL_ACCESS));
    for (const SandboxedRoot& root : kSandboxedRoots) {
      RegistryKey stand_in;
      EXPECT_EQ(S_OK, stand_in.Create(scratch_.get(), root.subkey, KEY_ALL_ACCESS));
      EXPECT_EQ(ERROR_SUCCESS, RegOverridePredefKey(root.predefined, stand_in.get()))
          << root.subkey;
    }
  }
  ~IsolatedRegistry() {
    for (const SandboxedRoot& root : kSandboxedRoots) RegOverridePredefKey(root.predefined, nullptr);
    scratch_.Close();
    RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
  }
  IsolatedRegistry(const IsolatedRegistry&) = delete;
  IsolatedRegistry& operator=(const IsolatedRegistry&) = delete;

  // Paths below are relative to the scratch key and start with the root's
  // short name, e.g. "HKCR\\CLSID".
  bool KeyExists(const std::string& path) const {
    RegistryKey key;
    return SUCCEEDED(key.Open(scratch_.get(), path.c_str(), KEY_READ));
  }
  void CreateKey(const std::string& path) const {
    RegistryKey key;
    ASSERT_EQ(S_OK, key.Create(scratch_.get(), path.c_str(), KEY_ALL_ACCESS)) << path;
  }
  void SetString(const std::string& path, const char* name, const std::string& text) const {
    RegistryKey key;
    ASSERT_EQ(S_OK, key.Create(scratch_.get(), path.c_str(), KEY_ALL_ACCESS)) << path;
    ASSERT_EQ(S_OK, key.WriteString(name, text)) << path;
  }
  // False when the key or the value is missing.
  bool ReadValue(const std::string& path, const char* name, DWORD* type, std::string* data) const {
    RegistryKey key;
    if (FAILED(key.Open(scratch_.get(), path.c_str(), KEY_READ))) return false;
    return SUCCEEDED(key.ReadRaw(name, type, data));
  }
  bool ValueExists(const std::string& path, const char* name) const {
    DWORD type = REG_NONE;
    std::string data;
    return ReadValue(path, name, &type, &data);
  }
  // The REG_SZ text of a value without its NUL; a marker when missing or of another type.
  std::string ReadString(const std::string& path, const char* name) const {
    DWORD type = REG_NONE;
    std::string data;
    if (!ReadValue(path, name, &type, &data)) return "<missing>";
    if (type != REG_SZ) return "<type " + std::to_string(type) + ">";
    if (data.empty() || data.back() != '\0') return "<no NUL>";
    data.pop_back();
    return data;
  }
  std::vector<std::string> SubkeyNames(const std::string& path) const {
    std::vector<std::string> names;
    RegistryKey key;
    if (FAILED(key.Open(scratch_.get(), path.c_str(), KEY_READ))) return names;
    std::string name;
    for (DWORD index = 0; SUCCEEDED(key.EnumSubkey(index, &name)); ++index) names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
  }
  // Value names, the default value as "".
  std::vector<std::string> ValueNames(const std::string& path) const {
    std::vector<std::string> names;
    RegistryKey key;
    if (FAILED(key.Open(scratch_.get(), path.c_str(), KEY_READ))) return names;
    for (DWORD index = 0;; ++index) {
      char name[512];
      DWORD length = sizeof(name);
      if (RegEnumValueA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // The values of a batch of freshly opened registry handles. Handles are
  // numbered from the lowest free slot, so the batch changes when a handle
  // that a run opened (at any nesting depth up to the batch size) stayed open.
  std::vector<HKEY> HandleFootprint() const {
    std::vector<RegistryKey> probes(48);
    std::vector<HKEY> values;
    for (RegistryKey& probe : probes) {
      EXPECT_EQ(S_OK, probe.Open(scratch_.get(), "", KEY_READ));
      values.push_back(probe.get());
    }
    return values;
  }

 private:
  std::string path_;
  RegistryKey scratch_;
};

struct Replacement {
  const wchar_t* name;
  const wchar_t* text;
};

HRESULT RunScriptWith(const std::string& script, bool register_mode,
                      const std::vector<Replacement>& replacements = {}) {
  RegistryScript interpreter;
  for (const Replacement& replacement : replacements) {
    const HRESULT status = interpreter.AddReplacement(replacement.name, replacement.text);
    if (FAILED(status)) return status;
  }
  return interpreter.RunScript(script.c_str(), register_mode);
}

HRESULT Register(const std::string& script, const std::vector<Replacement>& replacements = {}) {
  return RunScriptWith(script, true, replacements);
}
HRESULT Unregister(const std::string& script, const std::vector<Replacement>& replacements = {}) {
  return RunScriptWith(script, false, replacements);
}

std::string Bytes(std::initializer_list<unsigned> values) {
  std::string bytes;
  for (unsigned value : values) bytes += static_cast<char>(value);
  return bytes;
}

std::vector<std::string> Names(std::initializer_list<const char*> names) {
  std::vector<std::string> sorted(names.begin(), names.end());
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}

// ---- Tokenizer ----

// All tokens of a text, or the status of the read that failed.
HRESULT Tokenize(const std::string& text, std::vector<std::string>* tokens) {
  ScriptTokenizer tokenizer(text.c_str());
  tokenizer.SkipWhiteSpace();
  while (!tokenizer.AtEnd()) {
    std::string token;
    const HRESULT status = tokenizer.Next(&token);
    if (FAILED(status)) return status;
    tokens->push_back(token);
    tokenizer.SkipWhiteSpace();
  }
  return S_OK;
}

struct TokenCase {
  const char* text;
  std::vector<std::string> tokens;
};

TEST(ScriptTokenizerTest, SplitsTextIntoTokens) {
  const TokenCase cases[] = {
      {"a b\tc\r\nd", {"a", "b", "c", "d"}},
      {"'a b' = s 'x''y'", {"a b", "=", "s", "x'y"}},
      {"{a}=b", {"{a}=b"}},  // braces and "=" do not separate tokens
      {"''", {""}},
      {"''''", {"'"}},
      {"'x'y", {"x", "y"}},
      {"a\fb\vc", {"a\fb\vc"}},  // only space, tab, CR and LF are white space
      {"  'tail'   ", {"tail"}},
      {"'%%' \"q\"", {"%%", "\"q\""}},
  };
  for (const TokenCase& test : cases) {
    std::vector<std::string> tokens;
    EXPECT_EQ(S_OK, Tokenize(test.text, &tokens)) << test.text;
    EXPECT_EQ(test.tokens, tokens) << test.text;
  }
}

TEST(ScriptTokenizerTest, EndOfTextWhereATokenIsNeededIsASyntaxError) {
  for (const char* text : {"", "   \r\n\t", "'unterminated", "'ends with doubled quote''"}) {
    ScriptTokenizer tokenizer(text);
    std::string token = "unchanged";
    EXPECT_EQ(kSyntaxError, tokenizer.Next(&token)) << text;
  }
}

TEST(ScriptTokenizerTest, TokensUpToTheBufferSizeAreRead) {
  const std::string longest(kMaxScriptTokenBytes, 'x');
  const std::string quotes(kMaxScriptTokenBytes, '\'');
  std::string doubled_quotes;
  for (size_t i = 0; i < kMaxScriptTokenBytes; ++i) doubled_quotes += "''";
  const std::pair<std::string, std::string> cases[] = {
      {longest, longest},
      {longest + " next", longest},
      {"'" + longest + "'", longest},
      {"'" + doubled_quotes + "'", quotes},  // counted after un-doubling
  };
  for (const auto& test : cases) {
    ScriptTokenizer tokenizer(test.first.c_str());
    std::string token;
    EXPECT_EQ(S_OK, tokenizer.Next(&token)) << test.first.size();
    EXPECT_EQ(test.second, token) << test.first.size();
  }
}

TEST(ScriptTokenizerTest, TokensOverTheBufferSizeAreSyntaxErrors) {
  const std::string too_long(kMaxScriptTokenBytes + 1, 'x');
  std::string doubled_quotes;
  for (size_t i = 0; i <= kMaxScriptTokenBytes; ++i) doubled_quotes += "''";
  for (const std::string& text :
       {too_long, too_long + " next", "'" + too_long + "'", "'" + doubled_quotes + "'",
        std::string(100000, 'y')}) {
    ScriptTokenizer tokenizer(text.c_str());
    std::string token;
    EXPECT_EQ(kSyntaxError, tokenizer.Next(&token)) << text.size();
  }
}

// ---- Case-insensitive names ----

TEST(EqualsIgnoringCaseTest, ComparesLettersWithoutRegardToCase) {
  struct Case {
    const char* left;
    const char* right;
    bool equal;
  };
  const Case cases[] = {
      {"hklm", "HKLM", true},         {"NoReMoVe", "NoRemove", true}, {"", "", true},
      {"HKL", "HKLM", false},         {"HKLMX", "HKLM", false},       {"HKLM", "", false},
      {"Val ", "Val", false},         {"a-b", "A-B", true},           {"a_b", "a-b", false},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(test.equal, EqualsIgnoringCase(test.left, test.right))
        << test.left << " / " << test.right;
  }
}

// ---- Replacements ----

HRESULT Replace(const std::string& script, const std::vector<Replacement>& replacements,
                std::string* output) {
  ReplacementMap map;
  for (const Replacement& replacement : replacements) {
    const HRESULT status = map.Add(replacement.name, replacement.text);
    if (FAILED(status)) return status;
  }
  return ApplyReplacements(script.c_str(), map, output);
}

TEST(ApplyReplacementsTest, ReplacesNamesAndDoublePercents) {
  struct Case {
    const char* script;
    const char* expected;
  };
  const std::vector<Replacement> map = {
      {L"APPID", L"{id}"}, {L"Module", L"C:\\it''s\\x.exe"}, {L"Pct", L"100%"},
      {L"Nested", L"%Pct%"}, {L"Empty", L""},  {L"appid", L"second"},
  };
  const Case cases[] = {
      {"no names here", "no names here"},
      {"100%%", "100%"},
      {"%%%%", "%%"},
      {"%APPID%", "{id}"},
      {"%appid%", "{id}"},  // matched ignoring case; the first pair wins
      {"'%MODULE%'", "'C:\\it''s\\x.exe'"},
      {"%Pct% done", "100% done"},
      {"%Nested%", "%Pct%"},  // inserted text is not scanned again
      {"[%Empty%]", "[]"},
      {"%%%APPID%%%", "%{id}%"},
  };
  for (const Case& test : cases) {
    std::string output = "unchanged";
    EXPECT_EQ(S_OK, Replace(test.script, map, &output)) << test.script;
    EXPECT_EQ(test.expected, output) << test.script;
  }
}

TEST(ApplyReplacementsTest, ReportsBadNames) {
  struct Case {
    const char* script;
    HRESULT status;
  };
  const std::string name31(31, 'N');
  const std::string name32(32, 'N');
  const std::wstring wide31(31, L'N');
  const std::vector<Replacement> map = {{L"APPID", L"{id}"}, {wide31.c_str(), L"ok"}};
  const std::string known31 = "%" + name31 + "%";
  const std::string long32 = "%" + name32 + "%";
  const Case cases[] = {
      {"%UNKNOWN%", kSyntaxError},
      {"%APPID", kSyntaxError},
      {"text %", kSyntaxError},
      {"%APPID% %", kSyntaxError},
      {long32.c_str(), E_FAIL},
  };
  for (const Case& test : cases) {
    std::string output = "unchanged";
    EXPECT_EQ(test.status, Replace(test.script, map, &output)) << test.script;
    EXPECT_EQ("unchanged", output) << test.script;
  }
  std::string output;
  EXPECT_EQ(S_OK, Replace(known31, map, &output));
  EXPECT_EQ("ok", output);
}

TEST(ReplacementMapTest, RefusesMissingNamesOrTexts) {
  ReplacementMap map;
  EXPECT_EQ(E_INVALIDARG, map.Add(nullptr, L"text"));
  EXPECT_EQ(E_INVALIDARG, map.Add(L"name", nullptr));
  EXPECT_EQ(nullptr, map.Find("name"));
  RegistryScript script;
  EXPECT_EQ(E_INVALIDARG, script.AddReplacement(nullptr, L"text"));
  EXPECT_EQ(E_INVALIDARG, script.AddReplacement(L"name", nullptr));
}

TEST(ReplacementMapTest, FindsTheFirstPairIgnoringCase) {
  ReplacementMap map;
  ASSERT_EQ(S_OK, map.Add(L"Module", L"first"));
  ASSERT_EQ(S_OK, map.Add(L"MODULE", L"second"));
  ASSERT_EQ(S_OK, map.Add(L"Other", L"third"));
  ASSERT_NE(nullptr, map.Find("module"));
  EXPECT_EQ(L"first", *map.Find("module"));
  ASSERT_NE(nullptr, map.Find("OTHER"));
  EXPECT_EQ(L"third", *map.Find("OTHER"));
  EXPECT_EQ(nullptr, map.Find("Modul"));
}

// ---- The interpreter against the isolated registry ----

class RegistryScriptTest : public ::testing::Test {
 protected:
  IsolatedRegistry registry_;
};

TEST_F(RegistryScriptTest, QuotedKeyNameAndDoubledQuoteInTheDefaultValue) {
  EXPECT_EQ(S_OK, Register("HKCR { 'a b' = s 'x''y' }"));
  EXPECT_EQ("x'y", registry_.ReadString("HKCR\\a b", nullptr));
  EXPECT_EQ(Names({""}), registry_.ValueNames("HKCR\\a b"));
}

TEST_F(RegistryScriptTest, EmptyScriptAndEmptyBlocksDoNothing) {
  EXPECT_EQ(S_OK, Register(""));
  EXPECT_EQ(S_OK, Register(" \r\n\t "));
  EXPECT_EQ(S_OK, Register("HKCU { }"));
  EXPECT_EQ(S_OK, Unregister("HKCU { } HKLM { }"));
  EXPECT_TRUE(registry_.SubkeyNames("HKCU").empty());
}

TEST_F(RegistryScriptTest, RunScriptRefusesANullScript) {
  RegistryScript script;
  EXPECT_EQ(E_INVALIDARG, script.RunScript(nullptr, true));
}

TEST_F(RegistryScriptTest, ReplacementsReachTheRegistryLiterally) {
  const std::vector<Replacement> replacements = {
      {L"Pct", L"100%"}, {L"Quote", L"it''s"}, {L"Raw", L"%Pct%"}};
  EXPECT_EQ(S_OK, Register("HKCU { 'k' { val a = s '%PCT%' val b = s '%Quote%' "
                           "val c = s '%Raw%' val d = s '50%%' } }",
                           replacements));
  EXPECT_EQ("100%", registry_.ReadString("HKCU\\k", "a"));
  EXPECT_EQ("it's", registry_.ReadString("HKCU\\k", "b"));
  EXPECT_EQ("%Pct%", registry_.ReadString("HKCU\\k", "c"));
  EXPECT_EQ("50%", registry_.ReadString("HKCU\\k", "d"));
}

TEST_F(RegistryScriptTest, UnknownReplacementNameFailsBeforeAnythingIsWritten) {
  EXPECT_EQ(kSyntaxError, Register("HKCU { 'k' = s '%NOPE%' }", {{L"APPID", L"x"}}));
  EXPECT_EQ(E_FAIL, Register("HKCU { 'k' = s '%ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456%' }"));
  EXPECT_FALSE(registry_.KeyExists("HKCU\\k"));
}

struct ValueCase {
  const char* type_and_text;
  DWORD type;
  std::string data;
};

TEST_F(RegistryScriptTest, WritesEveryValueType) {
  const ValueCase cases[] = {
      {"s 'hello world'", REG_SZ, std::string("hello world", 12)},
      {"S ''", REG_SZ, std::string(1, '\0')},
      {"d 42", REG_DWORD, Bytes({42, 0, 0, 0})},
      {"D 4294967295", REG_DWORD, Bytes({0xff, 0xff, 0xff, 0xff})},
      {"d '&H10'", REG_DWORD, Bytes({16, 0, 0, 0})},
      {"d 0", REG_DWORD, Bytes({0, 0, 0, 0})},
      {"b 01AB0F", REG_BINARY, Bytes({0x01, 0xab, 0x0f})},
      {"B 'ff00'", REG_BINARY, Bytes({0xff, 0x00})},
      {"b 'aF9c'", REG_BINARY, Bytes({0xaf, 0x9c})},
      {"b 'Gz1x'", REG_BINARY, Bytes({0x00, 0x10})},  // a non-digit counts as 0
      {"b ''", REG_BINARY, ""},
      {"m 'a\\0b'", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
      {"M 'one\\0two\\0three'", REG_MULTI_SZ, std::string("one\0two\0three\0\0", 15)},
      {"m 'single'", REG_MULTI_SZ, std::string("single\0\0", 8)},
      {"m 'back\\slash\\\\0'", REG_MULTI_SZ, std::string("back\\slash\\\0\0\0", 14)},
      {"M ''", REG_MULTI_SZ, std::string(2, '\0')},
  };
  int index = 0;
  for (const ValueCase& test : cases) {
    const std::string key = "k" + std::to_string(index++);
    // Once as a named value, once as the key's default value.
    const std::string script = "HKCU { '" + key + "' = " + test.type_and_text + " { val v = " +
                               test.type_and_text + " } }";
    ASSERT_EQ(S_OK, Register(script)) << script;
    for (const char* name : {"v", static_cast<const char*>(nullptr)}) {
      DWORD type = REG_NONE;
      std::string data;
      ASSERT_TRUE(registry_.ReadValue("HKCU\\" + key, name, &type, &data)) << script;
      EXPECT_EQ(test.type, type) << script;
      EXPECT_EQ(test.data, data) << script;
    }
  }
}

struct FailingValueCase {
  const char* type_and_text;
  HRESULT status;
};

TEST_F(RegistryScriptTest, RefusesBadValuesAndUndoesTheBlock) {
  const FailingValueCase cases[] = {
      {"b 01AB0", E_FAIL},           // odd number of digits
      {"B '1'", E_FAIL},
      {"d abc", DISP_E_TYPEMISMATCH},  // the conversion's own status
      {"d ''", DISP_E_TYPEMISMATCH},
      {"d 12abc", DISP_E_TYPEMISMATCH},
      {"d 4294967296", DISP_E_OVERFLOW},
      {"d -1", DISP_E_OVERFLOW},
      {"x 'v'", kSyntaxError},  // unknown type letter
      {"sz 'v'", kSyntaxError},
      {"'' 'v'", kSyntaxError},
  };
  for (const FailingValueCase& test : cases) {
    const std::string script =
        std::string("HKCU { 'k' { val before = s 'x' val v = ") + test.type_and_text + " } }";
    EXPECT_EQ(test.status, Register(script)) << script;
    EXPECT_FALSE(registry_.KeyExists("HKCU\\k")) << script;
  }
}

TEST_F(RegistryScriptTest, RootNamesMatchInAnyCase) {
  struct Case {
    const char* name;
    const char* stand_in;
  };
  const Case cases[] = {
      {"HKCR", "HKCR"}, {"hkcr", "HKCR"}, {"HKEY_CLASSES_ROOT", "HKCR"},
      {"HKCU", "HKCU"}, {"hKcU", "HKCU"}, {"hkey_current_user", "HKCU"},
      {"HKLM", "HKLM"}, {"hklm", "HKLM"}, {"HKEY_LOCAL_MACHINE", "HKLM"},
      {"HKU", "HKU"},   {"hku", "HKU"},   {"HKEY_USERS", "HKU"},
      {"HKCC", "HKCC"}, {"Hkcc", "HKCC"}, {"HKEY_CURRENT_CONFIG", "HKCC"},
      {"HKDD", "HKDD"}, {"hkdd", "HKDD"}, {"HKEY_DYN_DATA", "HKDD"},
  };
  for (const Case& test : cases) {
    const std::string script = std::string(test.name) + " { 'root_probe' }";
    ASSERT_EQ(S_OK, Register(script)) << script;
    EXPECT_EQ(Names({"root_probe"}), registry_.SubkeyNames(test.stand_in)) << script;
    ASSERT_EQ(S_OK, Unregister(script)) << script;
    EXPECT_TRUE(registry_.SubkeyNames(test.stand_in).empty()) << script;
  }
  // The performance-data names are known too (an empty block touches nothing).
  EXPECT_EQ(S_OK, Register("HKPD { } hkey_performance_data { }"));
}

TEST_F(RegistryScriptTest, KeywordsMatchInAnyCase) {
  registry_.CreateKey("HKCU\\old\\inner");
  registry_.CreateKey("HKCU\\doomed");
  EXPECT_EQ(S_OK, Register("hkcu { NOREMOVE 'kept' { vAl v = S 'x' } forceremove 'old' "
                           "dElEtE 'doomed' }"));
  EXPECT_EQ("x", registry_.ReadString("HKCU\\kept", "v"));
  EXPECT_TRUE(registry_.KeyExists("HKCU\\old"));
  EXPECT_FALSE(registry_.KeyExists("HKCU\\old\\inner"));
  EXPECT_FALSE(registry_.KeyExists("HKCU\\doomed"));
  EXPECT_EQ(S_OK, Unregister("HKCU { noremove 'kept' { VAL v = s 'x' } FORCEREMOVE 'old' }"));
  EXPECT_TRUE(registry_.KeyExists("HKCU\\kept"));
  EXPECT_FALSE(registry_.ValueExists("HKCU\\kept", "v"));
  EXPECT_FALSE(registry_.KeyExists("HKCU\\old"));
}

TEST_F(RegistryScriptTest, KeysAreOpenedAgainWithTheirOtherContentsUntouched) {
  const std::string script = "HKCU { 'k' = s 'new' { 'child' } }";
  registry_.SetString("HKCU\\k", "foreign", "stays");
  registry_.CreateKey("HKCU\\k\\foreign_key");
  ASSERT_EQ(S_OK, Register(script));
  ASSERT_EQ(S_OK, Register(script));
  EXPECT_EQ("new", registry_.ReadString("HKCU\\k", nullptr));
  EXPECT_EQ("stays", registry_.ReadString("HKCU\\k", "foreign"));
  EXPECT_EQ(Names({"child", "foreign_key"}), registry_.SubkeyNames("HKCU\\k"));
}

TEST_F(RegistryScriptTest, NoRemoveKeySurvivesUnregistrationEvenWhenEmpty) {
  const std::string script = "HKCU { NoRemove 'keep' { 'child' = s 'x' } NoRemove 'empty' }";
  ASSERT_EQ(S_OK, Register(script));
  ASSERT_TRUE(registry_.KeyExists("HKCU\\keep\\child"));
  EXPECT_EQ(S_OK, Unregister(script));
  EXPECT_TRUE(registry_.KeyExists("HKCU\\keep"));
  EXPECT_FALSE(registry_.KeyExists("HKCU\\keep\\child"));
  EXPECT_TRUE(registry_.KeyExists("HKCU\\empty"));
}

TEST_F(RegistryScriptTest, UnregistrationRemovesTheNamedTreeDeepestFirst) {
  const std::string script = "HKCU { 'a' = s 'x' { 'b' { 'c' { val v = d 1 } } 'd' } }";
  ASSERT_EQ(S_OK, Register(script));
  ASSERT_TRUE(registry_.KeyExists("HKCU\\a\\b\\c"));
  EXPECT_EQ(S_OK, Unregister(script));
  EXPECT_TRUE(registry_.SubkeyNames("HKCU").empty());
}

TEST_F(RegistryScriptTest, ForeignSubkeysBlockUnregistrationWithTheRegistryError) {
  const std::string script = "HKCU { 'owned' { 'mine' } 'later' }";
  ASSERT_EQ(S_OK, Register(script));
  registry_.CreateKey("HKCU\\owned\\foreign");
  EXPECT_EQ(kAccessDenied, Unregister(script));
  EXPECT_FALSE(registry_.KeyExists("HKCU\\owned\\mine"));
  EXPECT_TRUE(registry_.KeyExists("HKCU\\owned\\foreign"));
  EXPECT_TRUE(registry_.KeyExists("HKCU\\later"));  // the walk stopped at the failure
}

TEST_F(RegistryScriptTest, ValueWithoutNoRemoveIsTheOnlyThingRemoved) {
  const std::string script =
      "HKCU { NoRemove 'k' = s 'default' { val gone = s 'x' NoRemove val kept = d 7 } }";
  ASSERT_EQ(S_OK, Register(script));
  registry_.SetString("HKCU\\k", "other", "foreign");
  EXPECT_EQ(S_OK, Unregister(script));
  EXPECT_EQ(Names({"", "kept", "other"}), registry_.ValueNames("HKCU\\k"));
  // The value is gone now; a missing value is not an error.
  EXPECT_EQ(S_OK, Unregister(script));
  EXPECT_EQ(Names({"", "kept", "other"}), registry_.ValueNames("HKCU\\k"));
}

TEST_F(RegistryScriptTest, ValuesOfTheRootKeyItself) {
  ASSERT_EQ(S_OK, Register("HKCU { val 'top' = s 'level' }"));
  EXPECT_EQ("level", registry_.ReadString("HKCU", "top"));
  EXPECT_EQ(S_OK, Unregister("HKCU { val 'top' = s 'level' }"));
  EXPECT_FALSE(registry_.ValueExists("HKCU", "top"));
}

TEST_F(RegistryScriptTest, ForceRemoveStartsAnOrdinaryKeyAfresh) {
  registry_.SetString("HKCU\\fresh", "old_value", "x");
  registry_.CreateKey("HKCU\\fresh\\old\\deeper\\deepest");
  registry_.CreateKey("HKCU\\fresh\\other");
  ASSERT_EQ(S_OK, Register("HKCU { ForceRemove 'fresh' = s 'new' { 'child' } }"));
  EXPECT_EQ(Names({"child"}), registry_.SubkeyNames("HKCU\\fresh"));
  EXPECT_EQ(Names({""}), registry_.ValueNames("HKCU\\fresh"));
  EXPECT_EQ("new", registry_.ReadString("HKCU\\fresh", nullptr));
}

TEST_F(RegistryScriptTest, ForceRemoveAndDeleteNeverTouchProtectedNames) {
  const char* const protected_names[] = {
      "AppID", "clsid",    "'Component Categories'", "FileType", "INTERFACE", "Hardware",
      "Mime",  "sam",      "Security",                "SYSTEM",   "software",  "TypeLib",
  };
  for (const char* name : protected_names) {
    std::string plain = name;
    plain.erase(std::remove(plain.begin(), plain.end(), '\''), plain.end());
    registry_.CreateKey("HKCR\\" + plain + "\\existing");
    ASSERT_EQ(S_OK, Register(std::string("HKCR { ForceRemove ") + name + " { 'mine' } }")) << name;
    EXPECT_EQ(Names({"existing", "mine"}), registry_.SubkeyNames("HKCR\\" + plain)) << name;
    ASSERT_EQ(S_OK, Register(std::string("HKCR { Delete ") + name + " }")) << name;
    EXPECT_EQ(Names({"existing", "mine"}), registry_.SubkeyNames("HKCR\\" + plain)) << name;
  }
}

TEST_F(RegistryScriptTest, DeleteRemovesAKeyAndSkipsItsAssignment) {
  registry_.CreateKey("HKCU\\gone\\inner");
  ASSERT_EQ(S_OK, Register("HKCU { Delete 'gone' = s 'ignored' 'after' = s 'y' Delete 'absent' }"));
  EXPECT_EQ(Names({"after"}), registry_.SubkeyNames("HKCU"));
  EXPECT_EQ("y", registry_.ReadString("HKCU\\after", nullptr));
}

TEST_F(RegistryScriptTest, NestedBlockWithoutAKeyOfItsOwnIsASyntaxError) {
  EXPECT_EQ(kSyntaxError, Register("HKCU { 'k' { val v = s 'x' { 'lost' } } }"));
  EXPECT_EQ(kSyntaxError, Register("HKCU { Delete 'x' { 'lost' } }"));
  EXPECT_EQ(kSyntaxError, Register("HKCU { val v = s 'x' { 'lost' } }"));
  // The clean-up walk removed what the failed blocks had written.
  EXPECT_TRUE(registry_.SubkeyNames("HKCU").empty());
  EXPECT_TRUE(registry_.ValueNames("HKCU").empty());
}

TEST_F(RegistryScriptTest, SyntaxErrorsAreReportedAsDispatchExceptions) {
  const std::string name259(kMaxScriptNameBytes, 'n');
  const std::string name260(kMaxScriptNameBytes + 1, 'n');
  const std::string token4095(kMaxScriptTokenBytes + 1, 't');
  const std::string cases[] = {
      "HKXX { }",
      "HKCU",
      "HKCU 'k'",
      "HKCU { 'k'",
      "HKCU { 'k' = s",
      "HKCU { 'k' = s 'v' ",
      "HKCU { val v s 'x' }",
      "HKCU { val v == s 'x' }",
      "HKCU { 'a\\b' }",
      "HKCU { 'a\\' }",
      "HKCU { ForceRemove 'a\\b' }",
      "HKCU { Delete 'a\\b' }",
      "HKCU { '' = s 'x' }",  // an empty key name would mean the parent itself
      "HKCU { ForceRemove '' }",
      "HKCU { 'k' = s 'unterminated }",
      "HKCU { '" + name260 + "' }",
      "HKCU { 'k' { val '" + name260 + "' = s 'x' } }",
      "HKCU { 'k' = s " + token4095 + " }",
      "HKCU { 'k' } }",
      "HKCU { } HKCU",
  };
  for (const std::string& script : cases) {
    EXPECT_EQ(kSyntaxError, Register(script)) << script.substr(0, 80);
    EXPECT_EQ(kSyntaxError, Unregister(script)) << script.substr(0, 80);
  }
  // The longest names that fit are not syntax errors (259 bytes is past the
  // registry's own key name limit, so only the value name is stored).
  EXPECT_NE(kSyntaxError, Register("HKCU { '" + name259 + "' }"));
  EXPECT_EQ(S_OK, Register("HKCU { 'k' { val '" + name259 + "' = s 'x' } }"));
  EXPECT_EQ("x", registry_.ReadString("HKCU\\k", name259.c_str()));
}

TEST_F(RegistryScriptTest, FailedRegistrationRemovesWhatItsBlockNamed) {
  registry_.CreateKey("HKCU\\kept\\preexisting_named");
  registry_.SetString("HKCU\\kept", "foreign", "stays");
  const std::string script =
      "HKLM { 'earlier' } "
      "HKCU { NoRemove 'kept' { 'created' = s 'x' { 'inner' { val v = d 1 } } "
      "'preexisting_named' val v = s 'z' NoRemove 'spared' 'bad' = q 'oops' } } "
      "HKLM { 'never' }";
  EXPECT_EQ(kSyntaxError, Register(script));
  EXPECT_TRUE(registry_.KeyExists("HKLM\\earlier"));  // an earlier block stays
  EXPECT_FALSE(registry_.KeyExists("HKLM\\never"));
  EXPECT_EQ(Names({"spared"}), registry_.SubkeyNames("HKCU\\kept"));
  EXPECT_EQ(Names({"foreign"}), registry_.ValueNames("HKCU\\kept"));
}

TEST_F(RegistryScriptTest, FailedRegistryCallUndoesTheBlockToo) {
  ASSERT_EQ(S_OK, Register("HKCU { NoRemove 'kept' }"));
  // Within the script's name limit but past the registry's own (255).
  const std::string too_long_for_the_registry(kMaxScriptNameBytes, 'n');
  const std::string script = "HKCU { 'made' { 'inner' } NoRemove 'kept' { 'x' } '" +
                             too_long_for_the_registry + "' }";
  const HRESULT status = Register(script);
  EXPECT_TRUE(FAILED(status) && HRESULT_FACILITY(status) == FACILITY_WIN32) << std::hex << status;
  EXPECT_EQ(Names({"kept"}), registry_.SubkeyNames("HKCU"));
  EXPECT_TRUE(registry_.SubkeyNames("HKCU\\kept").empty());
}

TEST_F(RegistryScriptTest, UnregisteringAbsentEntriesSucceedsAndCreatesNothing) {
  const std::string script =
      "HKCU { 'missing' = s 'x' { val v = s 'y' 'deeper' { 'deepest' { val w = d 1 } } } "
      "NoRemove 'also_missing' { val z = b 00 } val gone = s 'x' }";
  EXPECT_EQ(S_OK, Unregister(script));
  EXPECT_TRUE(registry_.SubkeyNames("HKCU").empty());
}

std::string NestedScript(int levels) {
  std::string script = "HKCU { ";
  for (int i = 0; i < levels; ++i) script += "n { ";
  for (int i = 0; i <= levels; ++i) script += "} ";
  return script;
}

TEST_F(RegistryScriptTest, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  const std::string fits = NestedScript(100);
  EXPECT_EQ(S_OK, Register(fits));
  EXPECT_EQ(S_OK, Unregister(fits));
  EXPECT_FALSE(registry_.KeyExists("HKCU\\n"));

  const std::string deep = NestedScript(100000);
  EXPECT_EQ(kSyntaxError, Unregister(deep));
  EXPECT_EQ(kSyntaxError, Register(deep));
}

TEST_F(RegistryScriptTest, NoRegistryHandleOutlivesARun) {
  // Warm up every root and the number conversion before taking the baseline.
  Register("HKCR { } HKCU { 'w' = d 1 } HKLM { } HKU { } HKCC { } HKDD { } HKPD { }");
  Unregister("HKCU { 'w' }");
  const std::vector<HKEY> baseline = registry_.HandleFootprint();
  registry_.CreateKey("HKCU\\blocked\\foreign");
  const std::string scripts[] = {
      "HKCU { 'a' = s 'x' { 'b' { val v = d 1 } } }",
      "HKCU { 'a' { 'b' { 'c' = s 'x' 'd' = q 'bad' } } }",
      "HKCU { 'a' { 'b' { val v = d 'nan' } } }",
      "HKCU { 'a' { 'b' { val v = b 123 } } }",
      "HKCU { 'a' { 'b' { 'unterminated } } }",
      "HKCU { ForceRemove 'a' { 'b' } Delete 'a' }",
      "HKCU { 'blocked' { 'x' } }",
      "HKPD { 'perf' { 'x' } }",
  };
  for (const std::string& script : scripts) {
    Register(script);
    EXPECT_EQ(baseline, registry_.HandleFootprint()) << "register " << script;
    Unregister(script);
    EXPECT_EQ(baseline, registry_.HandleFootprint()) << "unregister " << script;
  }
}

// Under a double-byte code page the second byte of a character may be a
// backslash (0x5C): it must neither split a key name nor separate M strings.
TEST_F(RegistryScriptTest, DoubleByteCharactersAreNeverSplit) {
  if (GetACP() != 932) GTEST_SKIP() << "needs the Japanese ANSI code page (LANG=ja_JP.UTF-8)";
  const std::string so = "\x83\x5c";  // one character, its trail byte is a backslash
  EXPECT_FALSE(EqualsIgnoringCase("\x83\x61", "\x83\x41"));  // trail bytes are not letters
  ASSERT_EQ(S_OK, Register("HKCU { '" + so + "' = s 'x' { val v = m 'a" + so + "0b\\0c' } }"));
  ASSERT_TRUE(registry_.KeyExists("HKCU\\" + so));
  DWORD type = REG_NONE;
  std::string data;
  ASSERT_TRUE(registry_.ReadValue("HKCU\\" + so, "v", &type, &data));
  EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
  EXPECT_EQ("a" + so + std::string("0b\0c\0\0", 6), data);
  EXPECT_EQ(S_OK, Unregister("HKCU { '" + so + "' }"));
  EXPECT_FALSE(registry_.KeyExists("HKCU\\" + so));
}

// ---- The server's own scripts ----

std::string ReadSourceFile(const char* relative_path) {
  const std::string path = std::string(ZELK_SOURCE_DIR) + "/" + relative_path;
  UniqueStdioFile file(fopen(path.c_str(), "rb"));
  EXPECT_TRUE(file.is_valid()) << "cannot open " << path;
  std::string text;
  if (!file.is_valid()) return text;
  char buffer[4096];
  size_t read = 0;
  while ((read = fread(buffer, 1, sizeof(buffer), file.get())) > 0) text.append(buffer, read);
  return text;
}

// A path with a single quote, doubled as the registration does for MODULE.
const char kModulePath[] = "C:\\Program Files\\Zelk's Tools\\ZelkAdmin.exe";
const wchar_t kModuleReplacement[] = L"C:\\Program Files\\Zelk''s Tools\\ZelkAdmin.exe";

// The replacement lists of the two scripts, as registration builds them.
const std::vector<Replacement> kAppIdReplacements = {
    {L"APPID", kAppIdWide}, {L"APPID", kAppIdWide}, {L"Module", kModuleReplacement}};
const std::vector<Replacement> kClassReplacements = {{L"APPID", kAppIdWide},
                                                     {L"Module", kModuleReplacement}};

class ServerScriptsTest : public RegistryScriptTest {
 protected:
  void SetUp() override {
    app_id_script_ = ReadSourceFile("resources/app_id.rgs");
    class_script_ = ReadSourceFile("resources/class.rgs");
    ASSERT_FALSE(app_id_script_.empty());
    ASSERT_FALSE(class_script_.empty());
  }

  HRESULT RegisterAll() {
    const HRESULT status = Register(app_id_script_, kAppIdReplacements);
    if (FAILED(status)) return status;
    return Register(class_script_, kClassReplacements);
  }
  HRESULT UnregisterAll() {
    const HRESULT status = Unregister(class_script_, kClassReplacements);
    if (FAILED(status)) return status;
    return Unregister(app_id_script_, kAppIdReplacements);
  }

  void ExpectKey(const std::string& path, std::vector<std::string> subkeys,
                 std::vector<std::string> values) {
    std::sort(subkeys.begin(), subkeys.end());
    std::sort(values.begin(), values.end());
    EXPECT_EQ(subkeys, registry_.SubkeyNames(path)) << path;
    EXPECT_EQ(values, registry_.ValueNames(path)) << path;
  }

  void ExpectRegisteredEntries() {
    const std::string app_id_key = std::string("HKCR\\AppID\\") + kAppId;
    ExpectKey("HKCR\\AppID", {kAppId, "ZelkAdmin.EXE"}, {});
    ExpectKey(app_id_key, {}, {""});
    EXPECT_EQ("ZelkAdmin", registry_.ReadString(app_id_key, nullptr));
    ExpectKey("HKCR\\AppID\\ZelkAdmin.EXE", {}, {"AppID"});
    EXPECT_EQ(kAppId, registry_.ReadString("HKCR\\AppID\\ZelkAdmin.EXE", "AppID"));
    ExpectKey("HKLM\\Software\\Zelk\\SafeList", {}, {""});
    EXPECT_EQ("", registry_.ReadString("HKLM\\Software\\Zelk\\SafeList", nullptr));
    EXPECT_EQ("1.50", registry_.ReadString("HKLM\\Software\\Zelk", "Version"));

    ExpectKey("HKCR\\Zelk.Helper.1", {"CLSID"}, {""});
    EXPECT_EQ("ZelkHelper Class", registry_.ReadString("HKCR\\Zelk.Helper.1", nullptr));
    ExpectKey("HKCR\\Zelk.Helper.1\\CLSID", {}, {""});
    EXPECT_EQ(kClassId, registry_.ReadString("HKCR\\Zelk.Helper.1\\CLSID", nullptr));
    ExpectKey("HKCR\\Zelk.Helper", {"CLSID", "CurVer"}, {""});
    EXPECT_EQ("ZelkHelper Class", registry_.ReadString("HKCR\\Zelk.Helper", nullptr));
    EXPECT_EQ(kClassId, registry_.ReadString("HKCR\\Zelk.Helper\\CLSID", nullptr));
    EXPECT_EQ("Zelk.Helper.1", registry_.ReadString("HKCR\\Zelk.Helper\\CurVer", nullptr));

    const std::string class_key = std::string("HKCR\\CLSID\\") + kClassId;
    ExpectKey(class_key,
              {"ProgID", "VersionIndependentProgID", "Programmable", "LocalServer32", "TypeLib"},
              {"", "AppID"});
    EXPECT_EQ("ZelkHelper Class", registry_.ReadString(class_key, nullptr));
    EXPECT_EQ(kAppId, registry_.ReadString(class_key, "AppID"));
    EXPECT_EQ("Zelk.Helper.1", registry_.ReadString(class_key + "\\ProgID", nullptr));
    EXPECT_EQ("Zelk.Helper", registry_.ReadString(class_key + "\\VersionIndependentProgID", nullptr));
    ExpectKey(class_key + "\\Programmable", {}, {});
    EXPECT_EQ(kModulePath, registry_.ReadString(class_key + "\\LocalServer32", nullptr));
    EXPECT_EQ(kTypeLibId, registry_.ReadString(class_key + "\\TypeLib", nullptr));
  }

  std::string app_id_script_;
  std::string class_script_;
};

TEST_F(ServerScriptsTest, RegistrationWritesTheTablesEntries) {
  ASSERT_EQ(S_OK, RegisterAll());
  ExpectRegisteredEntries();
  ExpectKey("HKCR", {"AppID", "CLSID", "Zelk.Helper", "Zelk.Helper.1"}, {});
  ExpectKey("HKCR\\CLSID", {kClassId}, {});
  ExpectKey("HKLM", {"Software"}, {});
  ExpectKey("HKLM\\Software", {"Zelk"}, {});
  ExpectKey("HKLM\\Software\\Zelk", {"SafeList"}, {"Version"});
}

TEST_F(ServerScriptsTest, RegisteringTwiceRebuildsTheClassTree) {
  ASSERT_EQ(S_OK, RegisterAll());
  const std::string class_key = std::string("HKCR\\CLSID\\") + kClassId;
  registry_.CreateKey(class_key + "\\InprocServer32");  // left by an earlier version
  registry_.SetString(class_key + "\\Programmable", "stale", "x");
  ASSERT_EQ(S_OK, RegisterAll());
  ExpectRegisteredEntries();
}

TEST_F(ServerScriptsTest, UnregistrationKeepsSharedKeysAndSettings) {
  registry_.CreateKey(std::string("HKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}"));
  registry_.CreateKey("HKCR\\AppID\\OtherApp.exe");
  ASSERT_EQ(S_OK, RegisterAll());
  registry_.SetString("HKLM\\Software\\Zelk", "LogFile", "C:\\Zelk.log");
  registry_.SetString("HKLM\\Software\\Zelk\\SafeList\\example.com", nullptr, "site");
  ASSERT_EQ(S_OK, UnregisterAll());

  ExpectKey("HKCR", {"AppID", "CLSID"}, {});
  ExpectKey("HKCR\\CLSID", {"{00000000-0000-0000-0000-000000000001}"}, {});
  ExpectKey("HKCR\\AppID", {"OtherApp.exe"}, {});
  ExpectKey("HKLM\\Software\\Zelk", {"SafeList"}, {"LogFile"});
  ExpectKey("HKLM\\Software\\Zelk\\SafeList", {"example.com"}, {""});
}

TEST_F(ServerScriptsTest, UnregisteringWhatIsNotThereSucceeds) {
  EXPECT_EQ(S_OK, UnregisterAll());
  for (const SandboxedRoot& root : kSandboxedRoots) {
    EXPECT_TRUE(registry_.SubkeyNames(root.subkey).empty()) << root.subkey;
  }
  ASSERT_EQ(S_OK, RegisterAll());
  ASSERT_EQ(S_OK, UnregisterAll());
  EXPECT_EQ(S_OK, UnregisterAll());
}

TEST_F(ServerScriptsTest, ForeignEntriesUnderTheClassIdStopUnregistration) {
  ASSERT_EQ(S_OK, RegisterAll());
  const std::string class_key = std::string("HKCR\\CLSID\\") + kClassId;
  registry_.CreateKey(class_key + "\\Implemented Categories");
  EXPECT_EQ(kAccessDenied, Unregister(class_script_, kClassReplacements));
  EXPECT_EQ(Names({"Implemented Categories"}), registry_.SubkeyNames(class_key));
}

TEST_F(ServerScriptsTest, ScriptsNeedTheirReplacements) {
  EXPECT_EQ(kSyntaxError, Register(class_script_, {{L"APPID", kAppIdWide}}));
  EXPECT_EQ(kSyntaxError, Register(app_id_script_, {{L"Module", kModuleReplacement}}));
  for (const SandboxedRoot& root : kSandboxedRoots) {
    EXPECT_TRUE(registry_.SubkeyNames(root.subkey).empty()) << root.subkey;
  }
}

// ---- Malformed scripts ----

bool IsReportableStatus(HRESULT status) {
  if (status == S_OK) return true;
  if (status == kSyntaxError || status == E_FAIL || status == E_OUTOFMEMORY) return true;
  if (status == DISP_E_TYPEMISMATCH || status == DISP_E_OVERFLOW) return true;
  return FAILED(status) && HRESULT_FACILITY(status) == FACILITY_WIN32;
}

class ScriptMutator {
 public:
  explicit ScriptMutator(unsigned seed) : random_(seed) {}

  std::string Mutate(std::string text) {
    const int mutations = Pick(1, 8);
    for (int i = 0; i < mutations; ++i) MutateOnce(&text);
    return text;
  }

  std::string TokenSoup() {
    static const char* const kVocabulary[] = {
        "HKCR", "HKCU", "hklm", "HKU", "HKCC", "HKEY_DYN_DATA", "HKPD", "HKXX", "{", "}", "{",
        "}", "=", "s", "S", "d", "D", "b", "B", "m", "M", "q", "ForceRemove", "Delete",
        "NoRemove", "val", "Val", "'a b'", "'x''y'", "'unterminated", "'%APPID%'", "'%MODULE%'",
        "%%", "%bad%", "%APPID", "'a\\b'", "''", "'01AB0F'", "01AB0", "42", "-1", "&H10",
        "'m\\0n'", "CLSID", "Software", "k1", "k2", "k3", "'}'", "'{'", "{x", "}y", "=s",
        "'\x81\x5c'", "\xe4\xf6",
    };
    std::string text;
    const int count = Pick(1, 60);
    for (int i = 0; i < count; ++i) {
      text += kVocabulary[Pick(0, static_cast<int>(std::size(kVocabulary)) - 1)];
      text += Pick(0, 9) == 0 ? "\r\n" : " ";
    }
    return text;
  }

  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

 private:
  void MutateOnce(std::string* text) {
    static const char kInteresting[] = "'{}=% \t\r\n\\0aZ";
    const int size = static_cast<int>(text->size());
    const int at = size == 0 ? 0 : Pick(0, size - 1);
    switch (Pick(0, 5)) {
      case 0:  // delete a run
        if (size > 0) text->erase(at, Pick(1, 12));
        break;
      case 1:  // insert a structural character
        text->insert(at, 1, kInteresting[Pick(0, static_cast<int>(sizeof(kInteresting)) - 2)]);
        break;
      case 2:  // insert any byte but NUL
        text->insert(at, 1, static_cast<char>(Pick(1, 255)));
        break;
      case 3:  // duplicate a run
        if (size > 0) text->insert(at, text->substr(Pick(0, size - 1), Pick(1, 40)));
        break;
      case 4:  // overwrite a byte
        if (size > 0) (*text)[at] = kInteresting[Pick(0, static_cast<int>(sizeof(kInteresting)) - 2)];
        break;
      default:  // cut the tail
        text->resize(at);
        break;
    }
  }

  std::mt19937 random_;
};

TEST_F(ServerScriptsTest, MalformedScriptsAlwaysReturnAStatus) {
  Register("HKCR { } HKCU { 'w' = d 1 } HKLM { } HKU { } HKCC { } HKDD { } HKPD { }");
  Unregister("HKCU { 'w' }");
  const std::vector<HKEY> baseline = registry_.HandleFootprint();
  const unsigned seed = 20240611;
  ScriptMutator mutator(seed);
  const int runs = 3000;
  int successes[2] = {0, 0};
  for (int run = 0; run < runs; ++run) {
    std::string script;
    switch (mutator.Pick(0, 2)) {
      case 0: script = mutator.Mutate(app_id_script_); break;
      case 1: script = mutator.Mutate(class_script_); break;
      default: script = mutator.TokenSoup(); break;
    }
    const bool register_mode = mutator.Pick(0, 1) == 0;
    const HRESULT status = RunScriptWith(script, register_mode, kAppIdReplacements);
    if (status == S_OK) ++successes[register_mode ? 1 : 0];
    ASSERT_TRUE(IsReportableStatus(status))
        << "seed " << seed << " run " << run << " status " << std::hex << status << "\n"
        << script;
    ASSERT_EQ(baseline, registry_.HandleFootprint())
        << "seed " << seed << " run " << run << " left a key open\n" << script;
  }
  // The mutations must leave enough scripts intact to reach the registry.
  EXPECT_GT(successes[0], 0);
  EXPECT_GT(successes[1], runs / 50);
}

}  // namespace
}  // namespace zelk
