# The statement corpus files are read from the source tree.
target_compile_definitions(orvex_tests_query PRIVATE ORVEX_QUERY_CORPUS_DIR="${CMAKE_CURRENT_SOURCE_DIR}/query/corpus")
