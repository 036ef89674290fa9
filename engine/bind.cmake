# The run-time bindings of bass.dll and basswma.dll.
add_library(kav_bassbind STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Dynamic_BASS.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DRT_BASSWMA.cpp)
target_include_directories(kav_bassbind PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(kav_bassbind PUBLIC kav_win kav_bass_types)
# The program loads the libraries from its own directory: build them with it.
add_dependencies(kav_bassbind bass basswma)
