# The device-change listener against a recording platform table.
norvak_add_test(tst_usb_notification
  SOURCES devicenotify/tst_usb_notification.cpp
  LIBS norvak_devicenotify)
