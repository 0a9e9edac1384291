target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/filter_section.h ${CMAKE_CURRENT_LIST_DIR}/filter_section.cpp
)
