# zelk_bench sits beside the server it measures and the tests; bench.sh runs
# it from there.
if(TARGET zelk_bench)
  set_target_properties(zelk_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  add_dependencies(zelk_bench ZelkAdmin)
endif()
