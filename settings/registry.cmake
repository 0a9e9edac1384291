target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/registry.h ${CMAKE_CURRENT_LIST_DIR}/registry.cpp
)
