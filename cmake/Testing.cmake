# snapmend_add_test(NAME SOURCES ... LIBS ... LABEL unit|gui|e2e [TIMEOUT s])
# One test executable per subsystem or class, run by CTest. GUI tests run offscreen.
include(GoogleTest)
function(snapmend_add_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  # Tests of the front-end get private folders per test (tests/support/HermeticFolders.h).
  if(TARGET snapmend_test_main)
    list(TRANSFORM T_LIBS REPLACE "^GTest::gtest_main$" snapmend_test_main)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest snapmend_warnings)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    LABELS ${T_LABEL}
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;SNAPMEND_BUILD_DIR=${CMAKE_BINARY_DIR};SNAPMEND_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()
