wavrell_add_test(test_summary_pictures
  ${CMAKE_CURRENT_LIST_DIR}/test_summary_pictures.cpp
)
