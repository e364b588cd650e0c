// The policy reader against the registry, redirected to a scratch key: each value it does
// not apply is listed with its path and reason (what applies: e2e_policy_test).
#include "policy/policy.h"

#include <algorithm>

#include "gtest/gtest.h"
#include "tests/policy_values.h"
#include "tests/registry_sandbox.h"

namespace zelk {
namespace {

using namespace zelk::testing;

TEST(PolicyTest, ListsEachIgnoredValueWithItsReason) {
  RegistrySandbox sandbox;
  Policy policy;
  ASSERT_EQ(S_OK, ReadPolicy(&policy));
  EXPECT_TRUE(policy.empty()) << "no policy key, no policy";
  std::vector<PolicyValue> values = IgnoredValues();
  values.push_back(Text(L"BlockList\\3", L" Domain http://ok.test/ # why"));
  ApplyPolicy(values);
  ASSERT_EQ(S_OK, ReadPolicy(&policy));
  EXPECT_EQ(values.size() - 1, policy.ignored.size());
  EXPECT_EQ(1u, policy.blockList.size());
  for (const PolicyValue& value : IgnoredValues()) {
    const auto ignored = std::find_if(policy.ignored.begin(), policy.ignored.end(),
                                      [&](const IgnoredValue& item) { return item.path == value.path; });
    ASSERT_NE(policy.ignored.end(), ignored) << value.path.c_str();
    EXPECT_EQ(0u, ignored->reason.rfind(value.reason, 0)) << ignored->reason.c_str();
  }
}

}  // namespace
}  // namespace zelk
