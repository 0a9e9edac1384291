wavrell_add_test(test_ini_file
  ${CMAKE_CURRENT_LIST_DIR}/test_ini_file.cpp
)
