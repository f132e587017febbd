# The demo's tests. They live beside the demo; the test helper of tests/ is defined only
# after tools/ is read, so they are registered the same way here.
function(norvak_demo_test name)
  cmake_parse_arguments(T "" "" "SOURCES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE norvak_demo Qt6::Test norvak_warnings)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
endfunction()

norvak_demo_test(test_demo_setup SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_demo_setup.cpp)

norvak_demo_test(test_unattended_run SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_unattended_run.cpp)
add_dependencies(test_unattended_run norvak_demo_firmware)
target_compile_definitions(test_unattended_run PRIVATE
  NORVAK_DEMO_FIRMWARE_DIR="${CMAKE_CURRENT_BINARY_DIR}/firmware")

# The program as CI calls it: no display, the sample firmware found next to it. It exits 0
# only on "PROGRAMMED".
add_test(NAME demo_unattended_run COMMAND norvak-flash-demo --firmware small-lf.srec)
set_tests_properties(demo_unattended_run PROPERTIES
  ENVIRONMENT "DISPLAY=;WAYLAND_DISPLAY=" TIMEOUT 300)
