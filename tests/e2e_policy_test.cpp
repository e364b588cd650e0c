// Machine policy reaching the running server as Group Policy applies it: each step replaces
// the whole policy and the next calls answer by it, without a restart. Values the
// server ignores change nothing; the user's own settings and list stay as they were.
#include <windows.h>

#include <fstream>
#include <iterator>
#include <regex>

#include "tests/hardening_e2e.h"
#include "tests/policy_values.h"

namespace zelk {
namespace {

using namespace zelk::testing;

constexpr const wchar_t* kUrls[] = {L"http://user.test/", L"http://managed.test/x",
                                    L"https://secure.test/", L"http://intranet/"};
constexpr wchar_t kUserSound[] = L"user.wav";

struct Step {
  const char* policy;
  std::vector<PolicyValue> values;
  long codes[4];  // IsUrlProtected of kUrls
  VARIANT_BOOL auto_show;
  const wchar_t* sound_file;
  HRESULT put[2];   // of AutoShow and SoundFile, each with the user's own value
  HRESULT protect;  // ProtectPage and UnprotectUrl of another page
};

// What Group Policy writes for every policy of the shipped template, all enabled or all
// disabled: each switch's enabledValue or disabledValue and, when enabled, C:\gp.wav for a
// text element and the line `lines[list]` as value 1 of a list element.
std::vector<PolicyValue> TemplateValues(bool enabled, const std::wstring (&lines)[2]) {
  std::ifstream file(std::string(ZELK_SOURCE_DIR) + "/resources/PolicyDefinitions/ZelkAdmin.admx");
  const std::string admx(std::istreambuf_iterator<char>(file), {});
  const std::regex policy_pattern(R"re(<policy\b[^>]*\bvalueName="(\w+)"[^>]*>|<(text|list)\b([^>]*)/>)re");
  const std::regex state(enabled ? R"re(<enabledValue>\s*<decimal value="(\d+)")re"
                                 : R"re(<disabledValue>\s*<decimal value="(\d+)")re");
  std::vector<PolicyValue> values;
  for (std::sregex_iterator at(admx.begin(), admx.end(), policy_pattern), end; at != end; ++at) {
    const std::smatch& found = *at;
    std::smatch number;
    const std::string rest = admx.substr(found.position() + found.length(), 400);
    if (found[1].matched && std::regex_search(rest, number, state)) {
      values.push_back({std::wstring(found[1].first, found[1].second), REG_DWORD,
                        static_cast<DWORD>(std::stoul(number[1])), L""});
    }
    std::smatch name;
    if (!enabled || !found[2].matched) continue;
    const std::string attributes = found[3];
    if (found[2] == "text" && std::regex_search(attributes, name, std::regex(R"re(valueName="(\w+)")re"))) {
      values.push_back({std::wstring(name[1].first, name[1].second), REG_SZ, 0, L"C:\\gp.wav"});
    } else if (std::regex_search(attributes, name, std::regex(R"re(key="Software\\Policies\\Zelk\\(\w+)")re"))) {
      const std::wstring list(name[1].first, name[1].second);
      values.push_back({list + L"\\1", REG_SZ, 0, lines[list == L"BlockList"]});
    }
  }
  return values;
}

TEST(PolicyTest, EachChangeAppliesToTheNextCallAndLeavesTheUsersDataAlone) {
  ApplyPolicy({});
  ServerStateSnapshot snapshot;
  for (const char* name : {"AutoShow", "ProtectLocal", "ProtectHttps"}) {
    WriteSettingDwordForTest(name, name[0] == 'A' ? 1 : 0);
  }
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Zelk", L"SoundFile", REG_SZ, kUserSound,
                  sizeof(kUserSound));
  const PolicyValue flags[] = {Dword(L"ProtectLocal", 1), Dword(L"ProtectHttps", 1)};
  const std::wstring lines[2] = {L"site http://managed.test/", L"page https://secure.test/"};
  const Step steps[] = {
      {"none", {}, {1, 0, 0, 0}, VARIANT_TRUE, kUserSound, {S_OK, S_OK}, S_OK},
      {"settings", {flags[0], flags[1], Dword(L"AutoShow", 0), Text(L"SoundFile", L"C:\\m.wav")},
       {1, 0, 16, 8}, VARIANT_FALSE, L"C:\\m.wav", {E_ACCESSDENIED, E_ACCESSDENIED}, S_OK},
      {"managed list before the user's, in value order",
       {Text(L"SafeList\\2", L"domain user.test"), Text(L"SafeList\\10", L"page user.test/"),
        Text(L"SafeList\\1", L"site managed.test")},
       {4, 2, 0, 0}, VARIANT_TRUE, kUserSound, {S_OK, S_OK}, S_OK},
      {"block list over the settings and both lists",
       {flags[0], flags[1], Text(L"SafeList\\1", L"site managed.test"),
        Text(L"BlockList\\1", L"site managed.test"), Text(L"BlockList\\2", L"page https://secure.test/"),
        Text(L"BlockList\\3", L"domain user.test"), Text(L"BlockList\\4", L"site intranet")},
       {0, 0, 0, 0}, VARIANT_TRUE, kUserSound, {S_OK, S_OK}, S_OK},
      {"locked list", {Dword(L"LockSafeList", 1)}, {1, 0, 0, 0}, VARIANT_TRUE, kUserSound,
       {S_OK, S_OK}, E_ACCESSDENIED},
      {"only values to ignore", IgnoredValues(), {1, 0, 0, 0}, VARIANT_TRUE, kUserSound,
       {S_OK, S_OK}, S_OK},
      {"the template, every policy enabled", TemplateValues(true, lines), {1, 2, 0, 8},
       VARIANT_TRUE, L"C:\\gp.wav", {E_ACCESSDENIED, E_ACCESSDENIED}, E_ACCESSDENIED},
      {"the template, every policy disabled", TemplateValues(false, lines), {1, 0, 0, 0},
       VARIANT_FALSE, kUserSound, {E_ACCESSDENIED, S_OK}, S_OK},
  };
  ScopedComInitializer com;
  ComPtr<IZelkHelper> helper;
  ASSERT_EQ(S_OK, CreateServerObject(&helper));
  ASSERT_EQ(S_OK, helper->ProtectPage(Bstr(kUrls[0]).get()));
  for (const Step& step : steps) {
    SCOPED_TRACE(step.policy);
    ApplyPolicy(step.values);
    for (int index = 0; index < 4; ++index) {
      long code = -1;
      EXPECT_TRUE(helper->IsUrlProtected(Bstr(kUrls[index]).get(), &code) == S_OK &&
                  step.codes[index] == code) << index << ": " << code;
    }
    VARIANT_BOOL auto_show = 1;
    UniqueBstr sound;
    EXPECT_TRUE(helper->get_AutoShow(&auto_show) == S_OK && step.auto_show == auto_show);
    EXPECT_TRUE(helper->get_SoundFile(sound.put()) == S_OK && step.sound_file == ToWide(sound.get()));
    EXPECT_EQ(step.put[0], helper->put_AutoShow(VARIANT_TRUE));
    EXPECT_EQ(step.put[1], helper->put_SoundFile(Bstr(kUserSound).get()));
    EXPECT_EQ(step.protect, helper->ProtectPage(Bstr(L"http://other.test/").get()));
    EXPECT_EQ(step.protect, helper->UnprotectUrl(Bstr(L"http://other.test/").get()));
    ScopedVariant list;
    ASSERT_EQ(S_OK, helper->get_SafeList(list.Receive()));
    EXPECT_EQ(1u, list.get().parray->rgsabound[0].cElements) << "the user's entry only";
  }
  // Policy's LogPopup outranks the user's either way.
  const DWORD logged = ReadSettingDword("LogCount");
  for (DWORD user : {0u, 1u}) {
    WriteSettingDwordForTest("LogPopup", user);
    ApplyPolicy({Dword(L"LogPopup", 1 - user)});
    EXPECT_EQ(S_OK, helper->LogPopUrl(Bstr(L"http://pop.test/").get(), Bstr(kUrls[0]).get()));
    EXPECT_EQ(logged + 1, ReadSettingDword("LogCount")) << "the user's LogPopup is " << user;
  }
  helper.reset();
  EXPECT_TRUE(ReadSettingDword("AutoShow") == 1 && ReadSettingDword("ProtectHttps") == 0);
  DWORD type = 0;
  std::string sound;
  EXPECT_TRUE(ReadSetting("SoundFile", &type, &sound) && sound == std::string("user.wav", 9));
  ApplyPolicy({});
}

}  // namespace
}  // namespace zelk
