# Fault injection and bad input: whole runs against the simulated device with the real event
# loop (unplugged adapter, floods, a misbehaving boot program, closing at every phase), a
# seeded random operator on the virtual clock, and bad port texts and firmware files.
foreach(name hangup flood device_faults random_operator regressions restart)
  norvak_add_test(test_faults_${name} SOURCES faults/test_${name}.cpp LIBS norvak_device_rig)
endforeach()


# Closing the window at each phase of a run, in a child process that builds the window as the
# program does.
add_executable(faults_window_child faults/window_child.cpp)
target_link_libraries(faults_window_child PRIVATE norvak_device_rig norvak_warnings)
norvak_add_test(test_faults_close SOURCES faults/test_close.cpp LIBS norvak_device_rig)
add_dependencies(test_faults_close faults_window_child)
target_compile_definitions(test_faults_close PRIVATE
  NORVAK_WINDOW_CHILD="$<TARGET_FILE:faults_window_child>")

# Bad port texts and firmware files; the open hook takes over the C library's open64 in this
# executable only, to change a file between the counting and the sending pass.
norvak_add_test(test_faults_bad_input
  SOURCES faults/test_bad_input.cpp faults/open_hook.h faults/open_hook.cpp
  LIBS norvak_device_rig ${CMAKE_DL_LIBS})
add_dependencies(test_faults_bad_input faults_window_child)
target_compile_definitions(test_faults_bad_input PRIVATE
  NORVAK_WINDOW_CHILD="$<TARGET_FILE:faults_window_child>")

# One device, one program at a time: the window and norvak-flash-cli by two names of one
# device, as root and as another user, a holder that is no program of ours, killed holders.
norvak_add_test(test_faults_exclusive_port SOURCES faults/test_exclusive_port.cpp
                LIBS norvak_device_rig)
add_dependencies(test_faults_exclusive_port faults_window_child norvak-flash-cli)
target_compile_definitions(test_faults_exclusive_port PRIVATE
  NORVAK_WINDOW_CHILD="$<TARGET_FILE:faults_window_child>"
  NORVAK_CLI="$<TARGET_FILE:norvak-flash-cli>")
