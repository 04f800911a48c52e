# Loading and saving whole tables against bare ODBC loops on a SQLite database
# in /dev/shm (made by the database test fixture).
if(TARGET tw_testdb)
  add_executable(tableio_bench tableio_bench.cpp)
  target_link_libraries(tableio_bench PRIVATE tw_dbio tw_testdb tw_testsupport SQLite::SQLite3 benchmark::benchmark)
  target_include_directories(tableio_bench PRIVATE ${TW_ROOT})
endif()
