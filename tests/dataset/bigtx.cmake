# The child program of the big-transaction tests (see bigtx/BigTxChild.cpp).
add_executable(vek_bigtx_child ${CMAKE_CURRENT_SOURCE_DIR}/dataset/bigtx/BigTxChild.cpp)
target_link_libraries(vek_bigtx_child PRIVATE vekrun orvex_options)
add_dependencies(orvex_tests_dataset vek_bigtx_child)
target_compile_definitions(orvex_tests_dataset PRIVATE VEK_BIGTX_CHILD="$<TARGET_FILE:vek_bigtx_child>")
