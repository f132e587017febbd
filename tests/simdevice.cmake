# The simulated device: its S-record checker and builders, and sessions over its pseudo-terminal.
norvak_add_test(test_srecord SOURCES simdevice/test_srecord.cpp LIBS norvak_simdevice)
if(NORVAK_HAVE_PTY)
  norvak_add_test(test_simdevice SOURCES simdevice/test_simdevice.cpp LIBS norvak_simdevice)
endif()
