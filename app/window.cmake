target_sources(wavrell_widgets PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/main_window.h ${CMAKE_CURRENT_LIST_DIR}/main_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/waveform_view.cpp
  ${CMAKE_CURRENT_LIST_DIR}/crest_view.cpp
  ${CMAKE_CURRENT_LIST_DIR}/playback_feeding.cpp
  ${CMAKE_CURRENT_LIST_DIR}/waveform_trace.h ${CMAKE_CURRENT_LIST_DIR}/waveform_trace.cpp
  ${CMAKE_CURRENT_LIST_DIR}/crest_factor.h ${CMAKE_CURRENT_LIST_DIR}/crest_factor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/paint_box.h ${CMAKE_CURRENT_LIST_DIR}/paint_box.cpp
  ${CMAKE_CURRENT_LIST_DIR}/panel.h
  ${CMAKE_CURRENT_LIST_DIR}/toolbar_icons.h ${CMAKE_CURRENT_LIST_DIR}/toolbar_icons.cpp
)
