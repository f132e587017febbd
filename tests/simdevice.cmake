# The simulated device: its S-record checker and builders, and sessions over its pseudo-terminal.
norvak_add_test(tst_srecord SOURCES simdevice/tst_srecord.cpp LIBS norvak_simdevice)
norvak_add_test(tst_simdevice SOURCES simdevice/tst_simdevice.cpp LIBS norvak_simdevice)
