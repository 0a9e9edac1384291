# The streaming player against the PulseAudio server started by scripts/test.
wavrell_add_test(test_player
  ${CMAKE_CURRENT_LIST_DIR}/test_player.cpp
  SOUND_SERVER
)
