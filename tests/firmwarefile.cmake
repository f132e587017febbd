# Firmware files: opening one as the streamer and the command line both do.
norvak_add_test(test_firmware_file SOURCES firmwarefile/test_firmware_file.cpp
                LIBS norvak_firmwarefile)
