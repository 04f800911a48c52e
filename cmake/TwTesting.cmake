# Test registration. Host tests run natively; Windows tests run under Wine
# through tests/support/wine-run (the Windows toolchains' emulator): the win64
# build's as 64-bit programs, the win32 build's as 32-bit programs under WOW64
# in a 64-bit prefix, as the release artifact runs on 64-bit Windows.
if(TW_BUILD_TESTS)
  if(TW_WINDOWS)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    set(TW_GTEST_MAIN gtest gmock)
  else()
    find_package(GTest REQUIRED)
    set(TW_GTEST_MAIN GTest::gtest GTest::gmock)
  endif()
  include(GoogleTest)
endif()

# tw_add_test(NAME name SOURCES ... LIBS ... [HOST] [WINDOWS] [LOCK resource]
#             [FIXTURES fixture...] [ENV VAR=value...])
#   HOST      build and run with the host presets (portable code)
#   WINDOWS   build with the Windows presets; run under Wine in both
#   LOCK      serialise with other tests holding the same resource (shared registry keys)
#   FIXTURES  ctest fixtures the tests need (servers started before, stopped after)
#   ENV       environment of every test case
function(tw_add_test)
  cmake_parse_arguments(T "HOST;WINDOWS" "NAME;LOCK" "SOURCES;LIBS;FIXTURES;ENV" ${ARGN})
  if(TW_WINDOWS AND NOT T_WINDOWS)
    return()
  endif()
  if(NOT TW_WINDOWS AND NOT T_HOST)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES} ${TW_ROOT}/tests/support/test_main.cpp)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} tw_testsupport ${TW_GTEST_MAIN})
  target_include_directories(${T_NAME} PRIVATE ${TW_ROOT})
  set(props LABELS ${T_NAME})
  if(T_LOCK)
    list(APPEND props RESOURCE_LOCK ${T_LOCK})
  endif()
  # Multi-valued properties travel as one list element: their own separators
  # are escaped so that gtest_discover_tests keeps them together.
  if(T_FIXTURES)
    string(REPLACE ";" "\\;" fixtures "${T_FIXTURES}")
    list(APPEND props FIXTURES_REQUIRED "${fixtures}")
  endif()
  if(T_ENV)
    string(REPLACE ";" "\\;" env "${T_ENV}")
    list(APPEND props ENVIRONMENT "${env}")
  endif()
  if(TW_WINDOWS)
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
      PROPERTIES ${props} TIMEOUT 300)
  else()
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST PROPERTIES ${props} TIMEOUT 300)
  endif()
endfunction()
