# The setup program's run under Qt installs a distribution that the program
# itself builds, with the install run tests' loader.
add_dependencies(${exe} orvexsetup orvex_test_loader)
target_compile_definitions(${exe} PRIVATE
  ORVEX_SETUP_PROGRAM="$<TARGET_FILE:orvexsetup>"
  ORVEX_SETUP_LOADER="$<TARGET_FILE:orvex_test_loader>")
