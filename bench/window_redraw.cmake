# Full redraw of the window's four waveform pictures, summaries against the
# straight passes (window_redraw.sh).
add_executable(bench_window_redraw ${CMAKE_CURRENT_LIST_DIR}/bench_window_redraw.cpp)
target_link_libraries(bench_window_redraw PRIVATE wavrell_widgets)
