# What a Windows build needs beside the sources: the header-only CLI11 and GoogleTest,
# both taken from the Debian packages of the build machine when cross-building.
set(CMAKE_EXECUTABLE_SUFFIX .exe)
# The desktop tool's icon is a resource of kvt40.exe.
enable_language(RC)
# No <windows.h> min/max macros; Windows 7 calls and later (CancelIoEx).
add_compile_definitions(NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)

if(CMAKE_CROSSCOMPILING)
  # Debian's CLI11 config points at /usr/include, which would put the build machine's C
  # library ahead of the target's. A copy of its headers alone goes into the build tree.
  set(KVT40_CLI11_HEADERS /usr/include/CLI CACHE PATH "CLI11 headers to copy for the cross build")
  set(cli11 ${CMAKE_BINARY_DIR}/third_party/cli11)
  file(COPY ${KVT40_CLI11_HEADERS} DESTINATION ${cli11}/include)
  file(WRITE ${cli11}/CLI11Config.cmake
    "if(NOT TARGET CLI11::CLI11)\n"
    "  add_library(CLI11::CLI11 INTERFACE IMPORTED)\n"
    "  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${cli11}/include)\n"
    "endif()\n")
  set(CLI11_DIR ${cli11} CACHE PATH "" FORCE)

  if(KVT40_BUILD_TESTS)
    # Built from Debian's source package with the cross compiler, as system headers so that
    # our warnings stay on our code.
    set(KVT40_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${KVT40_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL SYSTEM)
  endif()
endif()
