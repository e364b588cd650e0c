// The policy reader against the registry, redirected to a scratch key: every value it
// does not apply is listed with its path and reason; the rest applies, lists in the order
// of their value numbers.
#include "policy/policy.h"

#include "gtest/gtest.h"
#include "safelist/entry_rules.h"
#include "tests/policy_values.h"
#include "tests/registry_sandbox.h"

namespace zelk {
namespace {

using namespace zelk::testing;

TEST(PolicyTest, IgnoresEachBadValueWithItsReasonAndAppliesTheRest) {
  RegistrySandbox sandbox;
  Policy policy;
  ASSERT_EQ(S_OK, ReadPolicy(&policy));
  EXPECT_TRUE(policy.empty()) << "no policy key, no policy";

  std::vector<PolicyValue> values = IgnoredValues();
  for (const PolicyValue& value : values) WritePolicyValue(value);
  for (const PolicyValue& value :
       {Dword(L"ProtectLocal", 0), Dword(L"CheckSoftPopup", 1),
        Text(L"BlockList\\20", L"page ok.test/p"), Text(L"BlockList\\3", L" Domain http://ok.test/ # why")}) {
    WritePolicyValue(value);
  }
  ASSERT_EQ(S_OK, ReadPolicy(&policy));

  for (const PolicyValue& value : values) {
    const auto found = std::find_if(policy.ignored.begin(), policy.ignored.end(),
                                    [&](const IgnoredValue& ignored) { return ignored.path == value.path; });
    ASSERT_NE(policy.ignored.end(), found) << value.path.c_str();
    EXPECT_EQ(0u, found->reason.rfind(value.reason, 0)) << found->reason.c_str();
  }
  EXPECT_EQ(values.size(), policy.ignored.size());

  const std::optional<int32_t> flags[kManagedFlagCount] = {{}, {}, 0, {}, {}, 1};
  for (int flag = 0; flag < kManagedFlagCount; ++flag) {
    EXPECT_EQ(flags[flag], policy.flags[flag]) << kManagedFlagNames[flag];
  }
  EXPECT_FALSE(policy.soundFile);
  EXPECT_FALSE(policy.lockSafeList);
  EXPECT_TRUE(policy.safeList.empty());
  ASSERT_EQ(2u, policy.blockList.size());
  const struct { const wchar_t* name; uint32_t type; const wchar_t* url; const char* key; } entries[] = {
      {L"3", kDomain, L"http://ok.test/", "http://ok.test/"}, {L"20", kPage, L"ok.test/p", "http://ok.test/p"}};
  for (size_t index = 0; index < 2; ++index) {
    const ManagedEntry& entry = policy.blockList[index];
    EXPECT_EQ(entries[index].name, entry.valueName);
    EXPECT_EQ(entries[index].type, entry.type);
    EXPECT_EQ(entries[index].url, entry.url);
    EXPECT_EQ(entries[index].key, entry.key);
  }
}

}  // namespace
}  // namespace zelk
