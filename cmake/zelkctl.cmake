# zelkctl, the administrator's command-line tool, and its tests. The tool
# itself is built by the tools/*/main.cpp glob; this adds what it needs beyond
# that and registers the browser test of its exported log page.
if(TARGET zelkctl)
  # CommandLineToArgvW; and the safe list's key rules, so that an import can
  # check a file against them before it changes anything.
  target_link_libraries(zelkctl PRIVATE shell32 zelk_policy zelk_safelist)
  # The tool sits beside the server and the tests, so the end-to-end test
  # finds it in its own folder.
  set_target_properties(zelkctl PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  # Version data and the application manifest, as the server has.
  zelk_resource_script(zelkctl.rc)
  target_sources(zelkctl PRIVATE ${CMAKE_SOURCE_DIR}/resources/zelkctl.rc)

  if(TARGET e2e_zelkctl_test)
    add_dependencies(e2e_zelkctl_test zelkctl)
  endif()

  # Reads both executables' resources and runs zelkctl against a refused key;
  # the version it expects is the project's.
  if(TARGET e2e_privilege_test)
    add_dependencies(e2e_privilege_test zelkctl)
    target_link_libraries(e2e_privilege_test PRIVATE version)
    target_compile_definitions(e2e_privilege_test PRIVATE ZELK_PROJECT_VERSION="${PROJECT_VERSION}")
  endif()

  # Runs on the build machine: drives zelkctl under Wine, then opens the page
  # in headless Chromium. Exit code 77 means Chromium (or python3) is missing.
  add_test(NAME browser_log_page
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/browser/log_page_test.sh
                   ${CMAKE_BINARY_DIR}/wine-run.sh $<TARGET_FILE:zelkctl>)
  set_tests_properties(browser_log_page PROPERTIES
                       SKIP_RETURN_CODE 77
                       TIMEOUT 300
                       FIXTURES_REQUIRED registered_server
                       RESOURCE_LOCK wine_registry)
endif()
