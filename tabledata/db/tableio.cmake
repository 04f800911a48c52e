# The sequence generator's database side, loading and saving whole tables, and
# the support library's start and stop (InitCQuill, DeInitCQuill).
add_library(tw_dbio STATIC seqgen.cpp tableio.cpp cquill.cpp)
target_link_libraries(tw_dbio PUBLIC tw_db tw_tablexml)
