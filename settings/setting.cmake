target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/setting.h ${CMAKE_CURRENT_LIST_DIR}/setting.cpp
)
