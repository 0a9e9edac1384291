target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/command_line.h ${CMAKE_CURRENT_LIST_DIR}/command_line.cpp
)
