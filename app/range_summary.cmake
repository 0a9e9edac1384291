target_sources(wavrell_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/range_source.h ${CMAKE_CURRENT_LIST_DIR}/range_source.cpp
  ${CMAKE_CURRENT_LIST_DIR}/range_summary.h ${CMAKE_CURRENT_LIST_DIR}/range_summary.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lanes_across.h
)
# The block scans must become packed compares in every optimized build, and
# the section step must stay the plain multiply-then-add sequence of the
# filter section (no fused multiply-add), whatever the target's defaults.
set_source_files_properties(
  ${CMAKE_CURRENT_LIST_DIR}/range_source.cpp ${CMAKE_CURRENT_LIST_DIR}/range_summary.cpp
  TARGET_DIRECTORY wavrell_core PROPERTIES COMPILE_OPTIONS "-ffp-contract=off;$<$<NOT:$<CONFIG:Debug>>:-O3>")
