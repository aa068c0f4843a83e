# The child program of the registry store's multi-process tests.
add_executable(orvex_registry_child ${CMAKE_CURRENT_SOURCE_DIR}/platform/RegistryChild/RegistryChild.cpp)
target_link_libraries(orvex_registry_child PRIVATE orvex_platform orvex_options)
add_dependencies(orvex_tests_platform orvex_registry_child)
target_compile_definitions(orvex_tests_platform PRIVATE
  ORVEX_REGISTRY_CHILD="$<TARGET_FILE:orvex_registry_child>")
