# Installs the built program into a temporary prefix and checks the result.
wavrell_add_test(test_install
  ${CMAKE_CURRENT_LIST_DIR}/test_install.cpp
)
add_dependencies(test_install wavrell wavrellconnstate wavrell_demo wavrell_icons)
target_compile_definitions(test_install PRIVATE
  WAVRELL_CMAKE="${CMAKE_COMMAND}"
  WAVRELL_DEMO_ORIGINAL="${WAVRELL_DEMO_ORIGINAL}"
  WAVRELL_DEMO_LOUD="${WAVRELL_DEMO_LOUD}")
