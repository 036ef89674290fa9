# The visualisation link (the shared block and its layout) and the input
# plug-in configuration dialog.
add_library(kav_vislink STATIC ${CMAKE_CURRENT_LIST_DIR}/zavSharedMemory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VisBlock.cpp)
target_include_directories(kav_vislink PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(kav_vislink PUBLIC kav_win)
if(KAV_BUILD_QT)
  add_library(kav_pluginconfig STATIC ${CMAKE_CURRENT_LIST_DIR}/PluginConfig.cpp)
  target_include_directories(kav_pluginconfig PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(kav_pluginconfig PUBLIC kav_plugins kav_win Qt6::Widgets)
endif()
