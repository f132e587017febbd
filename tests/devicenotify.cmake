# The device-change listener against a recording platform table.
norvak_add_test(test_usb_notification
  SOURCES devicenotify/test_usb_notification.cpp
  LIBS norvak_devicenotify)
