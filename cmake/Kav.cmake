# Helpers shared by the subsystems' CMakeLists.txt.

# kav_dll(target): a shared library that the program loads by file name
# (bass.dll, in_mp3.dll ...): no "lib" prefix, the ".dll" name on every platform.
function(kav_dll target)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".dll"
    LIBRARY_OUTPUT_DIRECTORY ${KAV_BIN_DIR})
endfunction()

# kav_test(name sources... LIBS libs...): a GoogleTest executable run by CTest
# headless (offscreen Qt, working directory build/bin).
function(kav_test name)
  cmake_parse_arguments(T "" "" "LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${KAV_BIN_DIR}
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KAV_BIN_DIR=${KAV_BIN_DIR};KAV_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
               LABELS "${T_LABELS}"
    DISCOVERY_TIMEOUT 60)
endfunction()
