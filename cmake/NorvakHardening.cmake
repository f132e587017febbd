# Release builds for Linux are hardened as Debian builds its own packages: checked buffer
# functions and a strong stack protector in the code, and every relocation resolved at start
# and then made read-only. Debug, sanitizer and fuzzing builds and the Windows cross build keep
# their own flags.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_BUILD_TYPE STREQUAL "Release"
   AND NOT NORVAK_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  # -U first: a compiler that sets its own level would otherwise warn of the redefinition.
  add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fstack-protector-strong)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
