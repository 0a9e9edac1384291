wavrell_add_test(test_application
  ${CMAKE_CURRENT_LIST_DIR}/test_application.cpp
)
