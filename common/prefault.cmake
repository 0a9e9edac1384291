target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/prefault.h ${CMAKE_CURRENT_LIST_DIR}/prefault.cpp
)
