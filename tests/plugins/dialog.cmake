# The input plug-in dialog over the real engine and manager (widgets needed).
if(NOT TARGET kav_pluginconfig)
  return()
endif()
kav_test(plugin_dialog_tests PluginConfigTest.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/WidgetsTestMain.cpp
  ${CMAKE_SOURCE_DIR}/tests/engine/EngineTestSupport.cpp
  LIBS kav_engine kav_test_sound Qt6::Widgets OWN_MAIN LABELS plugins)
kav_test_plugin(test_config ConfigSdkPlugin.c)
add_dependencies(plugin_dialog_tests test_config test_no_entry)
kav_uses_plugins(plugin_dialog_tests bass in_mp3 in_wave)
