target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/prog_id.h
)
