# norvak-flash-cli: the S-record checker, the command line's pieces, and the program itself
# run as scripts run it against simulated devices.
norvak_add_test(test_srec_check SOURCES cli/test_srec_check.cpp
                LIBS norvak_firmwarefile norvak_simdevice_core)
add_dependencies(test_srec_check norvak_sample_firmware)
target_compile_definitions(test_srec_check PRIVATE NORVAK_FIRMWARE_DIR="${NORVAK_FIRMWARE_DIR}")

norvak_add_test(test_cli_parts SOURCES cli/test_cli_parts.cpp LIBS norvak_cli)
# The speeds as the CLI, the window's speed list and the streamer's pause see them.
norvak_add_test(test_speed_items SOURCES cli/test_speed_items.cpp
                LIBS norvak_cli norvak_testsupport)

# Both run the CLI against simulated devices over pseudo-terminals.
if(NORVAK_HAVE_PTY)
  norvak_add_test(test_cli_program SOURCES cli/test_cli_program.cpp LIBS norvak_device_rig)
  add_dependencies(test_cli_program norvak-flash-cli)
  target_compile_definitions(test_cli_program PRIVATE
    NORVAK_CLI="$<TARGET_FILE:norvak-flash-cli>" NORVAK_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

  norvak_add_test(test_cli_faults SOURCES cli/test_cli_faults.cpp LIBS norvak_device_rig)
  add_dependencies(test_cli_faults norvak-flash-cli)
  target_compile_definitions(test_cli_faults PRIVATE NORVAK_CLI="$<TARGET_FILE:norvak-flash-cli>")

  # The command line and the window's streamer refuse an unreadable file with one reason.
  norvak_add_test(test_cli_unreadable SOURCES cli/test_cli_unreadable.cpp LIBS norvak_device_rig)
  add_dependencies(test_cli_unreadable norvak-flash-cli)
  target_compile_definitions(test_cli_unreadable PRIVATE
    NORVAK_CLI="$<TARGET_FILE:norvak-flash-cli>")

  # --report: the run's line however it ends, and eight programs appending to one file.
  norvak_add_test(test_cli_report SOURCES cli/test_cli_report.cpp LIBS norvak_device_rig)
  add_dependencies(test_cli_report norvak-flash-cli)
  target_compile_definitions(test_cli_report PRIVATE NORVAK_CLI="$<TARGET_FILE:norvak-flash-cli>")
endif()

# The scripted real toolkit of tools/unattended, which the CLI, the demo, the end-to-end tests
# and the benchmarks share.
norvak_add_test(test_scripted_toolkit SOURCES cli/test_scripted_toolkit.cpp LIBS norvak_unattended)
# The run report's line, tally and file without a device.
norvak_add_test(test_cli_record SOURCES cli/test_cli_record.cpp LIBS norvak_cli)
