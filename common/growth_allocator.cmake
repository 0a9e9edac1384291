target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/growth_allocator.h
)
