# GoogleTest built from Debian's source with the cross compiler; every test
# executable runs under Wine through the emulator script below.

set(ZELK_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Tests and the server sit in one folder, so end-to-end tests find ZelkAdmin.exe
# beside themselves.
set_target_properties(ZelkAdmin PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

file(GLOB ZELK_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
add_library(zelk_test_support STATIC ${ZELK_TEST_SUPPORT} ${CMAKE_SOURCE_DIR}/tests/support/empty.cpp)
target_link_libraries(zelk_test_support PUBLIC zelk_server GTest::gtest)
target_include_directories(zelk_test_support PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(zelk_test_support PUBLIC ZELK_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

# The registered server, for the tests that drive it as a client would.
add_test(NAME register_server COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh $<TARGET_FILE:ZelkAdmin> /RegServer)
set_tests_properties(register_server PROPERTIES FIXTURES_SETUP registered_server RESOURCE_LOCK wine_registry)

file(GLOB ZELK_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.cpp)
foreach(test_source ${ZELK_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_executable(${test_name} ${test_source})
  target_link_libraries(${test_name} PRIVATE zelk_test_support GTest::gtest_main)
  set_target_properties(${test_name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  add_dependencies(${test_name} ZelkAdmin)
  add_test(NAME ${test_name} COMMAND ${test_name})
  set_tests_properties(${test_name} PROPERTIES TIMEOUT 300)
  if(test_name MATCHES "^e2e_")
    set_tests_properties(${test_name} PROPERTIES FIXTURES_REQUIRED registered_server
                                                 RESOURCE_LOCK wine_registry)
  endif()
endforeach()

# Late-bound clients: VBScript and JScript under cscript.
file(GLOB ZELK_SCRIPT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/scripts/*.vbs
                                              ${CMAKE_SOURCE_DIR}/tests/scripts/*.js)
foreach(script ${ZELK_SCRIPT_TESTS})
  get_filename_component(script_name ${script} NAME)
  add_test(NAME script_${script_name}
           COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh cscript //nologo Z:${script})
  # A script error ends cscript with code 0: the scripts print this line last.
  set_tests_properties(script_${script_name} PROPERTIES TIMEOUT 120
                       PASS_REGULAR_EXPRESSION "all checks passed"
                       FIXTURES_REQUIRED registered_server RESOURCE_LOCK wine_registry)
endforeach()
include(cmake/zelkctl.cmake OPTIONAL)
include(cmake/hardening.cmake OPTIONAL)

# The Group Policy templates, as the Group Policy editor reads them and as
# Group Policy applies them to the prefix's registry.
add_test(NAME policy_templates COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/policy/templates_test.py
                                       ${CMAKE_BINARY_DIR}/bin/PolicyDefinitions
                                       ${CMAKE_BINARY_DIR}/wine-run.sh $<TARGET_FILE:zelkctl>)
set_tests_properties(policy_templates PROPERTIES TIMEOUT 120 RESOURCE_LOCK wine_registry)

# The safe list once more under a double-byte ANSI code page (932, from the
# Japanese locale): double-byte hosts, trail bytes that look like delimiters,
# names longer in bytes than in characters.
if(TARGET safe_list_test)
  add_test(NAME safe_list_test_cp932 COMMAND safe_list_test)
  set_tests_properties(safe_list_test_cp932 PROPERTIES
                       ENVIRONMENT "LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8" TIMEOUT 300)
endif()

