# Reading a WAV file into the sample store; timed against sox by wav_read.sh.
add_executable(bench_wav_read ${CMAKE_CURRENT_LIST_DIR}/wav_read_main.cpp)
target_link_libraries(bench_wav_read PRIVATE wavrell_core)
# Only what it uses: no sound server client loaded at start.
target_link_options(bench_wav_read PRIVATE -Wl,-O1 -Wl,--as-needed)
