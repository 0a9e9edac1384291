wavrell_add_test(test_web_detect
  ${CMAKE_CURRENT_LIST_DIR}/test_web_detect.cpp
  ${PROJECT_SOURCE_DIR}/shell/connstate/conn_flags.cpp
  LIBS wavrell_connstate_fake_support)
target_compile_definitions(test_web_detect PRIVATE
  WAVRELL_CONNSTATE_LIBRARY="$<TARGET_FILE:wavrellconnstate>")
