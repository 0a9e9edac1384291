target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/sample_row.h ${CMAKE_CURRENT_LIST_DIR}/wav_file.h ${CMAKE_CURRENT_LIST_DIR}/wav_file.cpp
)
