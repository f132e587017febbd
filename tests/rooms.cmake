# The include check that keeps the rooms' order: it refuses an include against the order and
# names it, and passes what the order allows.
set(rooms_script ${PROJECT_SOURCE_DIR}/cmake/check_includes.cmake)
set(rooms_file ${CMAKE_CURRENT_SOURCE_DIR}/rooms/upward_include.h)
add_test(NAME test_rooms_refuse_an_upward_include
  COMMAND ${CMAKE_COMMAND} -DFILES=${rooms_file} "-DALLOWED=link/|seam/"
          -DSTAMP=${CMAKE_CURRENT_BINARY_DIR}/rooms-refused.stamp -P ${rooms_script})
set_tests_properties(test_rooms_refuse_an_upward_include PROPERTIES
  PASS_REGULAR_EXPRESSION "upward_include.h: \"mainwindow/frmprog.h\" is not in a room below")
add_test(NAME test_rooms_pass_what_the_order_allows
  COMMAND ${CMAKE_COMMAND} -DFILES=${rooms_file} "-DALLOWED=link/|mainwindow/|seam/"
          -DSTAMP=${CMAKE_CURRENT_BINARY_DIR}/rooms-allowed.stamp -P ${rooms_script})

# The tools are rooms too: a bare name from another target and a reach into another tool are
# both refused.
set(tool_file ${CMAKE_CURRENT_SOURCE_DIR}/rooms/tool_includes.cpp)
add_test(NAME test_rooms_refuse_a_bare_include
  COMMAND ${CMAKE_COMMAND} -DFILES=${tool_file} "-DALLOWED=tools/cli/|tools/unattended/|tools/demo/"
          -DSTAMP=${CMAKE_CURRENT_BINARY_DIR}/rooms-bare.stamp -P ${rooms_script})
set_tests_properties(test_rooms_refuse_a_bare_include PROPERTIES
  PASS_REGULAR_EXPRESSION "tool_includes.cpp: \"run_driver.h\" does not name its folder")
add_test(NAME test_rooms_refuse_a_reach_into_another_tool
  COMMAND ${CMAKE_COMMAND} -DFILES=${tool_file} "-DALLOWED=tools/cli/|tools/unattended/"
          -DSTAMP=${CMAKE_CURRENT_BINARY_DIR}/rooms-tool.stamp -P ${rooms_script})
set_tests_properties(test_rooms_refuse_a_reach_into_another_tool PROPERTIES
  PASS_REGULAR_EXPRESSION "tool_includes.cpp: \"tools/demo/demo_run.h\" is not in a room below")

# The firmware-file room (the S-record checker among it) links Qt Core and nothing of the
# window, the programming run or the serial link.
add_test(NAME test_rooms_firmwarefile_links_no_window
  COMMAND ${CMAKE_COMMAND} -E echo "links: $<TARGET_PROPERTY:norvak_firmwarefile,LINK_LIBRARIES>")
set_tests_properties(test_rooms_firmwarefile_links_no_window PROPERTIES
  PASS_REGULAR_EXPRESSION "links: Qt6::Core"
  FAIL_REGULAR_EXPRESSION "norvak_(mainwindow|programming|link|serial|seam|devicenotify)")
