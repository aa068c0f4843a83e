# The child program of the restructure process tests (see restr/RestrChild.cpp).
add_executable(vek_restr_child ${CMAKE_CURRENT_SOURCE_DIR}/dataset/restr/RestrChild.cpp)
target_link_libraries(vek_restr_child PRIVATE vekrun orvex_options)
add_dependencies(orvex_tests_dataset vek_restr_child)
target_compile_definitions(orvex_tests_dataset PRIVATE VEK_RESTR_CHILD="$<TARGET_FILE:vek_restr_child>")
