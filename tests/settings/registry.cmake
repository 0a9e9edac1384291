wavrell_add_test(test_registry
  ${CMAKE_CURRENT_LIST_DIR}/test_registry.cpp
)
