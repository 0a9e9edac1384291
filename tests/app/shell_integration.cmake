# The shell components as the main window carries them; one test runs the
# program itself.
wavrell_add_test(test_shell_integration
  ${CMAKE_CURRENT_LIST_DIR}/test_shell_integration.cpp
  ${PROJECT_SOURCE_DIR}/tests/shell/http_test_server.h
  LIBS wavrell_connstate_fake_support)
add_dependencies(test_shell_integration wavrell)
