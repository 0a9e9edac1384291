wavrell_add_test(test_about ${CMAKE_CURRENT_LIST_DIR}/test_about.cpp)
