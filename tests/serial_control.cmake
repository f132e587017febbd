# The serial control over QSerialPort, exercised on pseudo-terminals, and its receive event
# pump on the virtual clock.
norvak_add_test(test_serial_settings
  SOURCES serial_control/test_serial_settings.cpp
  LIBS norvak_serial)
if(NORVAK_HAVE_PTY)
  norvak_add_test(test_mscomm
    SOURCES serial_control/test_mscomm.cpp
    LIBS norvak_serial norvak_testsupport)
  norvak_add_test(test_receive_batching
    SOURCES serial_control/test_receive_batching.cpp
    LIBS norvak_serial norvak_testsupport)
endif()
# The receive event pump alone, on the virtual clock.
norvak_add_test(test_receive_pump
  SOURCES serial_control/test_receive_pump.cpp
  LIBS norvak_serial norvak_testclock)
