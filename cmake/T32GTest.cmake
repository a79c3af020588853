# GoogleTest for both targets: Debian's packaged build on Linux, and the same sources
# (from Debian's googletest package) compiled with MinGW-w64 for Windows.
if(T32_WINDOWS)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # The googletest project defines the GTest:: aliases itself.
else()
  find_package(GTest REQUIRED)
  find_package(Threads REQUIRED)
endif()
