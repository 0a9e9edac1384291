target_sources(wavrell_widgets PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/axis.h
  ${CMAKE_CURRENT_LIST_DIR}/axis.cpp
  ${CMAKE_CURRENT_LIST_DIR}/axis_arith.h
  ${CMAKE_CURRENT_LIST_DIR}/axis_ticks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/axis_paint.cpp
  ${CMAKE_CURRENT_LIST_DIR}/axis_mouse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/axis_cursors.h
  ${CMAKE_CURRENT_LIST_DIR}/axis_cursors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/axis_limit_form.h
  ${CMAKE_CURRENT_LIST_DIR}/axis_limit_form.cpp
)
