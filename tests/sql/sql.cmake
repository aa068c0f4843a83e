# The subquery tests read their rows from the dataset layer's in-memory test
# table.
target_sources(orvex_tests_sql PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/host/DatasetTestTable.cpp)
