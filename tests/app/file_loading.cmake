wavrell_add_test(test_file_loading
  ${CMAKE_CURRENT_LIST_DIR}/test_file_loading.cpp
)
