// The policy reader against the registry, redirected to a scratch key: every value it
// does not apply is listed with its path and reason; the rest applies, lists in the order
// of their value numbers.
#include "policy/policy.h"

#include <algorithm>

#include "gtest/gtest.h"
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
  std::vector<PolicyValue> applied = values;
  for (const PolicyValue& value : {Dword(L"ProtectLocal", 0), Dword(L"CheckSoftPopup", 1),
                                   Text(L"BlockList\\20", L"page ok.test/p"),
                                   Text(L"BlockList\\3", L" Domain http://ok.test/ # why")}) {
    applied.push_back(value);
  }
  ApplyPolicy(applied);
  ASSERT_EQ(S_OK, ReadPolicy(&policy));

  EXPECT_EQ(values.size(), policy.ignored.size());
  for (const PolicyValue& value : values) {
    const auto ignored = std::find_if(policy.ignored.begin(), policy.ignored.end(),
                                      [&](const IgnoredValue& item) { return item.path == value.path; });
    ASSERT_NE(policy.ignored.end(), ignored) << value.path.c_str();
    EXPECT_EQ(0u, ignored->reason.rfind(value.reason, 0)) << ignored->reason.c_str();
  }
  const std::optional<int32_t> flags[kManagedFlagCount] = {{}, {}, 0, {}, {}, 1};
  EXPECT_TRUE(std::equal(flags, flags + kManagedFlagCount, policy.flags));
  EXPECT_TRUE(!policy.soundFile && !policy.lockSafeList && policy.safeList.empty());
  std::wstring block_list;  // in the order of the value numbers
  for (const ManagedEntry& entry : policy.blockList) {
    block_list += entry.valueName + L" " + std::to_wstring(entry.type) + L" " + entry.url + L" " +
                  std::wstring(entry.key.begin(), entry.key.end()) + L";";
  }
  EXPECT_EQ(L"3 4 http://ok.test/ http://ok.test/;20 1 ok.test/p http://ok.test/p;", block_list);
}

}  // namespace
}  // namespace zelk
