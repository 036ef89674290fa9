# The program as installed: its version compiled into kav, and `cmake --install`
# laying out a program directory (everything kav needs beside it) with the
# command in bin/ and the desktop entry and icons in share/.
include(GNUInstallDirs)

if(NOT TARGET kav)
  return()
endif()
target_sources(kav PRIVATE ${CMAKE_BINARY_DIR}/generated/ExecutableVersion.cpp)

set(KAV_INSTALL_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/kav CACHE STRING
    "The program directory, under the install prefix")
install(TARGETS kav RUNTIME DESTINATION ${KAV_INSTALL_PROGRAM_DIR})
foreach(lib bass basswma in_mp3 in_wave dsp_wd)
  foreach(target ${lib} ${lib}.dll)
    if(TARGET ${target})
      install(TARGETS ${target} LIBRARY DESTINATION ${KAV_INSTALL_PROGRAM_DIR})
    endif()
  endforeach()
endforeach()

# The visualiser finds the player through the link, not through files: it goes in bin/.
if(TARGET kavvis)
  install(TARGETS kavvis RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# bin/kav leads to the program directory; kav finds its files by its own path.
file(RELATIVE_PATH kav_link_target /${CMAKE_INSTALL_BINDIR} /${KAV_INSTALL_PROGRAM_DIR}/kav)
install(CODE "
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  file(CREATE_LINK \"${kav_link_target}\"
       \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/kav\" SYMBOLIC)")

install(FILES ${CMAKE_SOURCE_DIR}/data/kav.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/kav.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${CMAKE_SOURCE_DIR}/data/icons/kav-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME kav.png)
endforeach()
