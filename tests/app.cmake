# The main window, the serial link and the programming run on the virtual clock.
norvak_add_test(test_window SOURCES app/test_window.cpp LIBS norvak_testsupport)
norvak_add_test(test_link SOURCES app/test_link.cpp LIBS norvak_testsupport)
norvak_add_test(test_run_control SOURCES app/test_run_control.cpp LIBS norvak_testsupport)
norvak_add_test(test_streamer SOURCES app/test_streamer.cpp LIBS norvak_testsupport)
norvak_add_test(test_operator_commands SOURCES app/test_operator_commands.cpp
                LIBS norvak_testsupport)
