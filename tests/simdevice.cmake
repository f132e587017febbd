# The simulated device: its S-record checker and builders, the serial control that reaches it in
# the same process, and sessions over its pseudo-terminal.
norvak_add_test(test_srecord SOURCES simdevice/test_srecord.cpp LIBS norvak_simdevice_core)
if(NORVAK_HAVE_PTY)
  norvak_add_test(test_simdevice SOURCES simdevice/test_simdevice.cpp LIBS norvak_simdevice)
endif()
norvak_add_test(test_in_process_serial SOURCES simdevice/test_in_process_serial.cpp
                LIBS norvak_simdevice_inprocess norvak_testclock)
