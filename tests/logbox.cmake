# Log box: the text model (pure) and the widget (offscreen).
norvak_add_test(test_logbox_document
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/logbox/test_text_document.cpp
  LIBS norvak_logbox)
norvak_add_test(test_logbox_widget
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/logbox/test_logbox.cpp
  LIBS norvak_logbox)
