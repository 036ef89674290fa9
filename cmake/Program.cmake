# The program as installed: its version compiled into kav, and `cmake --install`
# laying out a program directory (everything kav needs beside it, and the tools
# that load its libraries) with the commands in bin/, the desktop entry and
# icons in share/ and the user unit in lib/systemd/user.
include(GNUInstallDirs)

if(NOT TARGET kav)
  return()
endif()
target_sources(kav PRIVATE ${CMAKE_BINARY_DIR}/generated/ExecutableVersion.cpp)

set(KAV_INSTALL_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/kav CACHE STRING
    "The program directory, under the install prefix")
install(TARGETS kav RUNTIME DESTINATION ${KAV_INSTALL_PROGRAM_DIR})
# The tools that load the libraries beside them live in the program directory
# too, each led to from bin/; kavinfo needs nothing beside it.
set(kav_linked_commands kav)
foreach(tool kavplay basstool kavreport)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${KAV_INSTALL_PROGRAM_DIR})
    list(APPEND kav_linked_commands ${tool})
  endif()
endforeach()
if(TARGET kavinfo)
  install(TARGETS kavinfo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
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

# bin/kav (and the tools beside it) lead to the program directory; each finds
# its files by its own path.
foreach(command ${kav_linked_commands})
  file(RELATIVE_PATH link_target /${CMAKE_INSTALL_BINDIR} /${KAV_INSTALL_PROGRAM_DIR}/${command})
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK \"${link_target}\"
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${command}\" SYMBOLIC)")
endforeach()

# The desktop entry and the user unit name the program's path under the prefix.
configure_file(${CMAKE_SOURCE_DIR}/cmake/InstallNamed.cmake.in
  ${CMAKE_BINARY_DIR}/generated/InstallNamed.cmake @ONLY)
install(SCRIPT ${CMAKE_BINARY_DIR}/generated/InstallNamed.cmake)
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/kav.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${CMAKE_SOURCE_DIR}/data/icons/kav-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME kav.png)
endforeach()
