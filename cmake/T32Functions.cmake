# t32_test(<name> SOURCES <files...> [LIBS <targets...>] [PORTABLE])
# A GoogleTest program registered with CTest. PORTABLE tests are also built for Windows
# and run there under Wine; the rest exist only in the Linux build.
function(t32_test name)
  cmake_parse_arguments(T "PORTABLE" "" "SOURCES;LIBS" ${ARGN})
  if(T32_WINDOWS AND NOT T_PORTABLE)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "T32_TEST_SOURCE=${PROJECT_SOURCE_DIR}")
endfunction()

# t32_library(<name> <STATIC|SHARED|OBJECT> <files...>): a library of system code that
# includes platform/win32.h and builds for both targets.
function(t32_library name kind)
  add_library(${name} ${kind} ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC t32_platform)
endfunction()
