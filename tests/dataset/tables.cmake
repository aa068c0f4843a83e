# The child program of the table process tests (see tables/TableChild.cpp).
add_executable(vek_table_child ${CMAKE_CURRENT_SOURCE_DIR}/dataset/tables/TableChild.cpp)
target_link_libraries(vek_table_child PRIVATE vekrun orvex_options)
add_dependencies(orvex_tests_dataset vek_table_child)
target_compile_definitions(orvex_tests_dataset PRIVATE VEK_TABLE_CHILD="$<TARGET_FILE:vek_table_child>")
