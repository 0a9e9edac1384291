wavrell_add_test(test_recent_files
  ${CMAKE_CURRENT_LIST_DIR}/test_recent_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_drive_type.cpp
)
