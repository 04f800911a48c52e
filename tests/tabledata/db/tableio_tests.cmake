# Table loading and saving, the sequences and the support library's start and
# stop, against real SQLite, PostgreSQL and MariaDB databases (host), the
# run's servers of the fixture test_databases. seq_child is the second process
# of the sequence tests.
if(NOT TW_WINDOWS AND TARGET tw_testdb)
  add_executable(seq_child seq_child.cpp)
  target_link_libraries(seq_child PRIVATE tw_dbio)
  target_include_directories(seq_child PRIVATE ${TW_ROOT})
  tw_add_test(NAME tableio_test HOST
    SOURCES tableio_fixture.cpp tableio_test.cpp seq_test.cpp cquill_test.cpp
    LIBS tw_dbio tw_testdb
    FIXTURES test_databases
    ENV ${TW_TEST_DATABASES_ENV})
  target_compile_definitions(tableio_test PRIVATE TW_SEQ_CHILD="$<TARGET_FILE:seq_child>")
  add_dependencies(tableio_test seq_child)
endif()
