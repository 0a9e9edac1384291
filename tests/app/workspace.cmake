wavrell_add_test(test_level_analysis
  ${CMAKE_CURRENT_LIST_DIR}/test_level_analysis.cpp
)
# The command-line tests run the program itself.
wavrell_add_test(test_workspace
  ${CMAKE_CURRENT_LIST_DIR}/test_workspace.cpp
)
add_dependencies(test_workspace wavrell)
