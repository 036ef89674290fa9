# Helpers shared by the subsystems' CMakeLists.txt.

# kav_dll(target): a shared library that the program loads by file name
# (bass.dll, in_mp3.dll ...): no "lib" prefix, the ".dll" name on every platform.
function(kav_dll target)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".dll"
    LIBRARY_OUTPUT_DIRECTORY ${KAV_BIN_DIR})
endfunction()

# kav_test(name sources... LIBS libs... [QT_MAIN] [LABELS label]): a GoogleTest executable run by
# CTest headless (offscreen Qt, working directory build/bin). QT_MAIN gives it a
# main() that creates a QCoreApplication first (tests/support/QtTestMain.cpp);
# tests that need widgets bring a main of their own and link GTest::gtest.
function(kav_test name)
  cmake_parse_arguments(T "QT_MAIN;OWN_MAIN" "" "LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})  # tests/support/...
  if(T_QT_MAIN)
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/QtTestMain.cpp)
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest Qt6::Core)
  elseif(T_OWN_MAIN)
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  endif()
  # The discovered tests get their properties through a command line, where
  # a list of labels would lose all but its first: one label each.
  list(LENGTH T_LABELS label_count)
  if(label_count GREATER 1)
    message(FATAL_ERROR "kav_test(${name}): one label only, not ${T_LABELS}")
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${KAV_BIN_DIR}
    # gtest_discover_tests passes only one ENVIRONMENT entry through, so the
    # tests find the program directory as their working directory (or the
    # KAV_BIN_DIR variable, which the sanitizer stages set).
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
               LABELS "${T_LABELS}"
    DISCOVERY_TIMEOUT 60)
endfunction()
