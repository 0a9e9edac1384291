# The window comes from a library the program loads at run time.
wavrell_add_test(test_window_library
  ${CMAKE_CURRENT_LIST_DIR}/test_window_library.cpp
)
add_dependencies(test_window_library wavrell wavrell_gui wavrellconnstate wavrell_demo wavrell_icons)
target_compile_definitions(test_window_library PRIVATE
  WAVRELL_CMAKE="${CMAKE_COMMAND}"
  WAVRELL_DEMO_ORIGINAL="${WAVRELL_DEMO_ORIGINAL}")
