# The main window, its waveform boxes and its crest factor bars, rendered on
# the offscreen platform with files written by sox.
wavrell_add_test(test_main_window
  ${CMAKE_CURRENT_LIST_DIR}/window_fixture.h
  ${CMAKE_CURRENT_LIST_DIR}/test_main_window.cpp
)
wavrell_add_test(test_waveform_view
  ${CMAKE_CURRENT_LIST_DIR}/window_fixture.h
  ${CMAKE_CURRENT_LIST_DIR}/test_waveform_view.cpp
)
wavrell_add_test(test_crest_view
  ${CMAKE_CURRENT_LIST_DIR}/window_fixture.h
  ${CMAKE_CURRENT_LIST_DIR}/test_crest_view.cpp
)
