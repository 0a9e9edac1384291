# Playback through the main window: the play commands, the chunks handed to
# the player, and what reaches a private null sink of the test server.
wavrell_add_test(test_playback
  ${CMAKE_CURRENT_LIST_DIR}/test_playback.cpp
  SOUND_SERVER
)
