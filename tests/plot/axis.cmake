wavrell_add_test(test_axis
  ${CMAKE_CURRENT_LIST_DIR}/axis_fixture.h
  ${CMAKE_CURRENT_LIST_DIR}/test_axis_scale.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_axis_ticks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_axis_mouse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_axis_paint.cpp)

# Pictures of every kind of axis: build/test/tests/plot/axis_demo <folder>.
add_executable(axis_demo ${CMAKE_CURRENT_LIST_DIR}/axis_demo.cpp)
target_link_libraries(axis_demo PRIVATE wavrell_widgets)
add_test(NAME axis_demo COMMAND axis_demo ${CMAKE_CURRENT_BINARY_DIR}/axis_pictures)
set_tests_properties(axis_demo PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
