# The statement corpora of the parser tests live in tests/sql/data.
target_compile_definitions(${exe} PRIVATE ORVEX_SQL_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/sql/data")
