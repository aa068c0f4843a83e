# The child program of the result-store tests (see store/StoreChild.cpp).
add_executable(vek_store_child ${CMAKE_CURRENT_SOURCE_DIR}/query/store/StoreChild.cpp)
target_link_libraries(vek_store_child PRIVATE vekrun orvex_options)
add_dependencies(orvex_tests_query vek_store_child)
target_compile_definitions(orvex_tests_query PRIVATE VEK_STORE_CHILD="$<TARGET_FILE:vek_store_child>")
