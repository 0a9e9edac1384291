target_sources(wavrell_widgets PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/help_menu.h ${CMAKE_CURRENT_LIST_DIR}/help_menu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_get.h ${CMAKE_CURRENT_LIST_DIR}/http_get.cpp
  ${CMAKE_CURRENT_LIST_DIR}/version_file.h ${CMAKE_CURRENT_LIST_DIR}/version_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/url_opener.h ${CMAKE_CURRENT_LIST_DIR}/url_opener.cpp
)

# The user manual lies next to the program in the build folder, and in
# help/ beside bin/ when installed.
configure_file(${PROJECT_SOURCE_DIR}/help/wavrell.html ${PROJECT_BINARY_DIR}/wavrell.html COPYONLY)
install(FILES ${PROJECT_SOURCE_DIR}/help/wavrell.html DESTINATION help)
