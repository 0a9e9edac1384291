target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/number_text.h ${CMAKE_CURRENT_LIST_DIR}/number_text.cpp
)
