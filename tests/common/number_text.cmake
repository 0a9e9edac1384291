wavrell_add_test(test_number_text
  ${CMAKE_CURRENT_LIST_DIR}/test_number_text.cpp
)
