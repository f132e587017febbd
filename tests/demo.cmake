# The demo: its set-up, unattended runs, and the program itself as CI calls it.
norvak_add_test(test_demo_setup SOURCES demo/test_demo_setup.cpp LIBS norvak_demo)
# Runs against the simulated device over a pseudo-terminal.
if(NORVAK_HAVE_PTY)
  norvak_add_test(test_demo_run SOURCES demo/test_demo_run.cpp
                  LIBS norvak_demo norvak_testsupport)
  add_dependencies(test_demo_run norvak_demo_firmware)
  target_compile_definitions(test_demo_run PRIVATE
    NORVAK_DEMO_FIRMWARE_DIR="${NORVAK_DEMO_FIRMWARE_DIR}")

  # No display, the sample firmware found next to it: it exits 0 only on "PROGRAMMED".
  add_test(NAME demo_unattended_run COMMAND norvak-flash-demo --firmware small-lf.srec)
  set_tests_properties(demo_unattended_run PROPERTIES
    ENVIRONMENT "DISPLAY=;WAYLAND_DISPLAY=" TIMEOUT 300)
endif()

# Whole runs against the device in the same process, behind the window's serial control: no
# pseudo-terminal, so they run wherever the program does.
norvak_add_test(test_in_process_run SOURCES demo/test_in_process_run.cpp LIBS norvak_demo)
add_dependencies(test_in_process_run norvak_demo_firmware)
target_compile_definitions(test_in_process_run PRIVATE
  NORVAK_DEMO_FIRMWARE_DIR="${NORVAK_DEMO_FIRMWARE_DIR}")

# The demo with its device in its own process, unattended, as on Windows.
add_test(NAME demo_in_process_run COMMAND norvak-flash-demo --in-process --firmware small-lf.srec)
set_tests_properties(demo_in_process_run PROPERTIES
  ENVIRONMENT "DISPLAY=;WAYLAND_DISPLAY=" TIMEOUT 300)
