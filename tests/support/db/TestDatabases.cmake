# The test databases of a build tree: the library the tests get them from, and
# the ctest fixture "test_databases" that starts one server of each kind for
# the whole run (before the first test that requires it, stopped after the
# last, also when tests fail; see testdb-server fixture-start). A test that
# makes databases is registered with
#   tw_add_test(NAME ... LIBS ... ${TW_TESTDB_LIBRARY}
#     FIXTURES test_databases ENV ${TW_TEST_DATABASES_ENV})
# Host: PostgreSQL and MariaDB servers; Windows (under Wine): PostgreSQL, with
# the connection texts naming the host's drivers for the tree's processor.

# What each including folder needs; the targets and tests are made once.
set(tw_testdb_state ${CMAKE_BINARY_DIR}/test-databases)
set(TW_TEST_DATABASES_ENV TW_TEST_DATABASES=${tw_testdb_state})
if(TW_WINDOWS)
  # A name of its own: the host's tw_testdb stands for the command-line clients too.
  set(TW_TESTDB_LIBRARY tw_testdb_wine)
else()
  set(TW_TESTDB_LIBRARY tw_testdb)
endif()
include_guard(GLOBAL)

set(tw_testdb_dir ${CMAKE_CURRENT_LIST_DIR})
if(TW_WINDOWS)
  add_library(tw_testdb_wine STATIC ${tw_testdb_dir}/testdb_wine.cpp ${tw_testdb_dir}/testdb_names.cpp)
  target_link_libraries(tw_testdb_wine PUBLIC tw_testsupport odbc32)
  set(tw_testdb_kinds pgsql)
else()
  add_library(tw_testdb STATIC ${tw_testdb_dir}/testdb.cpp ${tw_testdb_dir}/testdb_names.cpp)
  target_include_directories(tw_testdb PUBLIC ${TW_ROOT})
  target_compile_definitions(tw_testdb PRIVATE TW_TESTDB_SERVER_SCRIPT="${tw_testdb_dir}/testdb-server")
  set(tw_testdb_kinds pgsql mysql)
endif()

if(TW_BUILD_TESTS)
  add_test(NAME test_databases_start
    COMMAND ${tw_testdb_dir}/testdb-server fixture-start ${tw_testdb_state} ${CMAKE_SYSTEM_PROCESSOR} ${tw_testdb_kinds})
  set_tests_properties(test_databases_start PROPERTIES FIXTURES_SETUP test_databases TIMEOUT 120)
  add_test(NAME test_databases_stop COMMAND ${tw_testdb_dir}/testdb-server fixture-stop ${tw_testdb_state})
  set_tests_properties(test_databases_stop PROPERTIES FIXTURES_CLEANUP test_databases TIMEOUT 120)
endif()
