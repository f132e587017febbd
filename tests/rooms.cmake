# The include check that keeps the rooms' order: it refuses an include against the order and
# names it, and passes what the order allows.
set(rooms_script ${PROJECT_SOURCE_DIR}/cmake/check_includes.cmake)
set(rooms_file ${CMAKE_CURRENT_SOURCE_DIR}/rooms/upward_include.h)
add_test(NAME test_rooms_refuse_an_upward_include
  COMMAND ${CMAKE_COMMAND} -DFILES=${rooms_file} "-DALLOWED=link/|mainwindow/interface/"
          -DSTAMP=${CMAKE_CURRENT_BINARY_DIR}/rooms-refused.stamp -P ${rooms_script})
set_tests_properties(test_rooms_refuse_an_upward_include PROPERTIES
  PASS_REGULAR_EXPRESSION "upward_include.h: \"mainwindow/frmprog.h\" is not in a room below")
add_test(NAME test_rooms_pass_what_the_order_allows
  COMMAND ${CMAKE_COMMAND} -DFILES=${rooms_file} "-DALLOWED=link/|mainwindow/"
          -DSTAMP=${CMAKE_CURRENT_BINARY_DIR}/rooms-allowed.stamp -P ${rooms_script})
