wavrell_add_test(test_filter_section
  ${CMAKE_CURRENT_LIST_DIR}/test_filter_section.cpp
)
