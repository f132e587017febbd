# The rooms of src/ use each other in one direction only:
#
#   mainwindow -> programming -> link -> link/control (the serial control)
#                     |
#                     +-> firmwarefile (opening, reading and checking firmware files)
#   devicenotify beside them; seam (the toolkit, the window's members by role, the failure
#   helpers: what the rooms below the window may see of it) under them; protocol (the boot
#   program's line and characters, the operator's numbers of a run) at the very bottom, for
#   every room and tool.
#
# The tools are rooms too: each includes its own folder, the tools it is built on and the rooms
# of src/ it drives. Every include of ours names its folder.
#
# norvak_room_includes() adds a step to a room's target that fails the build when one of its
# files includes a header of a room it may not use.

# Every room of src/, for the tools that drive the whole window program.
set(NORVAK_WINDOW_ROOMS mainwindow/ programming/ firmwarefile/ link/ devicenotify/ seam/ protocol/)

set(NORVAK_CHECK_INCLUDES_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/check_includes.cmake)

function(norvak_room_includes target)
  cmake_parse_arguments(ROOM "" "" "MAY_INCLUDE" ${ARGN})
  get_target_property(sources ${target} SOURCES)
  get_target_property(sourceDir ${target} SOURCE_DIR)
  set(files "")
  foreach(source IN LISTS sources)
    if(source MATCHES "\\.(h|cpp)$")
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${sourceDir} OUTPUT_VARIABLE path)
      list(APPEND files ${path})
    endif()
  endforeach()
  # Lists travel to the script with "|" between their items.
  string(JOIN "|" fileArg ${files})
  string(JOIN "|" allowedArg ${ROOM_MAY_INCLUDE})
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.includes-checked)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DFILES=${fileArg} -DALLOWED=${allowedArg} -DSTAMP=${stamp}
            -P ${NORVAK_CHECK_INCLUDES_SCRIPT}
    DEPENDS ${files} ${NORVAK_CHECK_INCLUDES_SCRIPT}
    COMMENT "Checking that ${target} includes only rooms below it"
    VERBATIM)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    add_custom_target(${target}_includes ALL DEPENDS ${stamp})
  else()
    target_sources(${target} PRIVATE ${stamp})
  endif()
endfunction()
