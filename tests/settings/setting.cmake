wavrell_add_test(test_setting
  ${CMAKE_CURRENT_LIST_DIR}/test_setting.cpp
)
