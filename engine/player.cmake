# The player: TBASSPlayer, stream opening, its window and spectrum bands.
if(NOT TARGET kav_bassbind OR NOT TARGET kav_fileinfo)
  return()
endif()
add_library(kav_engine STATIC
  ${CMAKE_CURRENT_LIST_DIR}/BASSPlayer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DSPPlugin.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PlayerWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PluginHandOver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PreparedStream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StreamOpen.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StationOutput.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StreamText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BandLevels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VisLink.cpp)
target_include_directories(kav_engine PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(kav_engine PUBLIC kav_bassbind kav_fileinfo kav_plugins kav_win kav_vislink)
# The plug-in dialog needs widgets; a build without them has none.
if(TARGET kav_pluginconfig)
  target_sources(kav_engine PRIVATE ${CMAKE_CURRENT_LIST_DIR}/PluginConfigLink.cpp)
  target_link_libraries(kav_engine PUBLIC kav_pluginconfig)
else()
  target_sources(kav_engine PRIVATE ${CMAKE_CURRENT_LIST_DIR}/PluginConfigNone.cpp)
endif()
