# The demonstration databases of the setup's distribution, written by the
# engine's build tool: the test runs the tool and reads what it wrote.
add_dependencies(orvex_tests_dataset orvexdemodb)
target_compile_definitions(orvex_tests_dataset PRIVATE
  ORVEX_DEMODB_PROGRAM="$<TARGET_FILE:orvexdemodb>")
