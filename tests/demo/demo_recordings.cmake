# The demo recordings checked with sox; runs the generator itself too.
wavrell_add_test(test_demo_recordings
  ${CMAKE_CURRENT_LIST_DIR}/test_demo_recordings.cpp
)
add_dependencies(test_demo_recordings wavrell_demo)
target_compile_definitions(test_demo_recordings PRIVATE
  WAVRELL_MAKE_DEMO="$<TARGET_FILE:wavrell_make_demo>"
  WAVRELL_DEMO_ORIGINAL="${WAVRELL_DEMO_ORIGINAL}"
  WAVRELL_DEMO_LOUD="${WAVRELL_DEMO_LOUD}")
