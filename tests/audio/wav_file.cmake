wavrell_add_test(test_wav_file
  ${CMAKE_CURRENT_LIST_DIR}/test_wav_file.cpp
)
