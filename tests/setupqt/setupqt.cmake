# The wizard under the Qt backend keeps its screenshots in the build tree.
target_compile_definitions(${exe} PRIVATE ORVEX_SETUPQT_OUTPUT="${CMAKE_CURRENT_BINARY_DIR}")
