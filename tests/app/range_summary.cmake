wavrell_add_test(test_range_summary
  ${CMAKE_CURRENT_LIST_DIR}/test_range_summary.cpp
)
