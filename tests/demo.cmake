# The demo: its set-up, unattended runs, and the program itself as CI calls it.
norvak_add_test(test_demo_setup SOURCES demo/test_demo_setup.cpp LIBS norvak_demo)
# Runs against the simulated device over a pseudo-terminal.
if(NORVAK_HAVE_PTY)
  norvak_add_test(test_unattended_run SOURCES demo/test_unattended_run.cpp
                  LIBS norvak_demo norvak_testsupport)
  add_dependencies(test_unattended_run norvak_demo_firmware)
  target_compile_definitions(test_unattended_run PRIVATE
    NORVAK_DEMO_FIRMWARE_DIR="${NORVAK_DEMO_FIRMWARE_DIR}")

  # No display, the sample firmware found next to it: it exits 0 only on "PROGRAMMED".
  add_test(NAME demo_unattended_run COMMAND norvak-flash-demo --firmware small-lf.srec)
  set_tests_properties(demo_unattended_run PROPERTIES
    ENVIRONMENT "DISPLAY=;WAYLAND_DISPLAY=" TIMEOUT 300)
endif()
