# Compiles the example markers of docs/examples into the unit tests, so that the files the
# documentation shows are the files the reader is tested on, also where the tests run under
# Wine and cannot reach the source tree by path.
file(GLOB marker_example_files CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/docs/examples/*.json")
list(SORT marker_example_files)
set(marker_example_entries "")
foreach(example_file IN LISTS marker_example_files)
  get_filename_component(example_name "${example_file}" NAME)
  file(READ "${example_file}" example_text)
  string(APPEND marker_example_entries "{\"${example_name}\", R\"marker(${example_text})marker\"},\n")
endforeach()
set(marker_examples_dir "${CMAKE_CURRENT_BINARY_DIR}/generated")
file(CONFIGURE OUTPUT "${marker_examples_dir}/marker_examples.inc"
     CONTENT "// Generated from docs/examples by tests/marker_examples.cmake.\n${marker_example_entries}")
