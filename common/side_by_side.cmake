target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/side_by_side.h ${CMAKE_CURRENT_LIST_DIR}/side_by_side.cpp
)
