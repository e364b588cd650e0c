# The hardening tests: many clients at once, hostile input, faults. They are
# picked up by the tests/*_test.cpp glob; this adds what the glob cannot say.

# The stress test relaunches itself as its client processes and has its own
# main(), which the linker prefers to the one in gtest_main. Eight clients of
# 10,000 calls each take about a minute and a half under Wine on two cores.
if(TARGET e2e_stress_test)
  set_tests_properties(e2e_stress_test PROPERTIES TIMEOUT 300)
endif()

# The in-process loop calls by name too, through the registered type library.
# It only reads the registration, so it takes no lock.
if(TARGET resource_growth_test)
  set_tests_properties(resource_growth_test PROPERTIES FIXTURES_REQUIRED registered_server)
endif()

# Hostile input once more under a double-byte ANSI code page: Wine takes the
# code page from the locale (932 for Japanese), and the server, started by the
# test, inherits it. LC_ALL too, so that no LC_ALL of the caller overrides the
# request. Without the locale the test says so and is reported as skipped.
if(TARGET e2e_hostile_input_test)
  add_test(NAME e2e_hostile_input_test_cp932 COMMAND e2e_hostile_input_test)
  set_tests_properties(e2e_hostile_input_test_cp932 PROPERTIES
                       ENVIRONMENT "LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8"
                       SKIP_REGULAR_EXPRESSION "not 932: the ja_JP.UTF-8 locale is missing"
                       TIMEOUT 300
                       FIXTURES_REQUIRED registered_server
                       RESOURCE_LOCK wine_registry)
endif()
