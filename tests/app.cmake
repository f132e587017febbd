# The main window, the serial link and the programming run on the virtual clock.
norvak_add_test(test_window SOURCES app/test_window.cpp LIBS norvak_testsupport)
norvak_add_test(test_link SOURCES app/test_link.cpp LIBS norvak_testsupport)
norvak_add_test(test_run_control SOURCES app/test_run_control.cpp LIBS norvak_testsupport)
norvak_add_test(test_streamer SOURCES app/test_streamer.cpp LIBS norvak_testsupport)
norvak_add_test(test_pause_schedule SOURCES app/test_pause_schedule.cpp LIBS norvak_testsupport)
norvak_add_test(test_operator_commands SOURCES app/test_operator_commands.cpp
                LIBS norvak_testsupport)

# Real bytes on a real tty: the link over a pseudo-terminal, and whole runs against the
# simulated device with the real Qt event loop.
if(NORVAK_HAVE_PTY)
  norvak_add_test(test_link_pty SOURCES app/test_link_pty.cpp LIBS norvak_testsupport)
  norvak_add_test(test_end_to_end SOURCES app/test_end_to_end.cpp
                  LIBS norvak_device_rig)
endif()

# The real toolkit's own promises, on the real event loop.
norvak_add_test(test_qt_toolkit SOURCES app/test_qt_toolkit.cpp LIBS norvak_testsupport)
