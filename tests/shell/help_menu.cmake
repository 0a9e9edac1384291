wavrell_add_test(test_help_menu
  ${CMAKE_CURRENT_LIST_DIR}/test_help_menu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_test_server.h
  LIBS wavrell_connstate_fake_support)
