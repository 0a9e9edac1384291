target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/level_analysis.h ${CMAKE_CURRENT_LIST_DIR}/level_analysis.cpp
  ${CMAKE_CURRENT_LIST_DIR}/workspace.h ${CMAKE_CURRENT_LIST_DIR}/workspace.cpp
)
