# The child program of the system-table tests (see systbl/SysTblChild.cpp).
add_executable(vek_systbl_child ${CMAKE_CURRENT_SOURCE_DIR}/dataset/systbl/SysTblChild.cpp)
target_link_libraries(vek_systbl_child PRIVATE vekrun orvex_options)
add_dependencies(orvex_tests_dataset vek_systbl_child)
target_include_directories(orvex_tests_dataset PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/dataset/systbl)
target_compile_definitions(orvex_tests_dataset PRIVATE VEK_SYSTBL_CHILD="$<TARGET_FILE:vek_systbl_child>")
