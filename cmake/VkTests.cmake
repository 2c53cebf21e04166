# vk_add_tests(DIR <dir> LIBS <libs...>)
# Every <name>_test.cpp in <dir> becomes its own GoogleTest executable <name>_test.
# Each test case runs in its own private sandbox (scripts/sandbox), so tests may use
# the system's fixed keys, ports and paths and still run in parallel.
set(VK_SANDBOX ${CMAKE_SOURCE_DIR}/scripts/sandbox CACHE INTERNAL "")

function(vk_add_tests)
  cmake_parse_arguments(A "" "DIR;TIMEOUT" "LIBS" ${ARGN})
  if(NOT VK_TESTS)
    return()
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${A_DIR}/*_test.cpp)
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
    target_include_directories(${name} PRIVATE ${A_DIR})
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR ${VK_SANDBOX})
    gtest_discover_tests(${name}
      DISCOVERY_TIMEOUT 120
      PROPERTIES TIMEOUT ${A_TIMEOUT} ENVIRONMENT "VK_BUILD_DIR=${CMAKE_BINARY_DIR}")
  endforeach()
endfunction()
