# vk_add_tests(DIR <dir> LIBS <libs...>)
# Every <name>_test.cpp in <dir> becomes its own GoogleTest executable <name>_test.
# Each test case runs in its own private sandbox (scripts/sandbox), so tests may use
# the system's fixed keys, ports and paths and still run in parallel.
# The ThreadSanitizer build runs them through scripts/sandbox-tsan instead, which fails a test
# when any process under it (the children it starts included) reported a race.
set(VK_SANDBOX ${CMAKE_SOURCE_DIR}/scripts/sandbox CACHE INTERNAL "")
if(VK_TSAN)
  set(VK_SANDBOX ${CMAKE_SOURCE_DIR}/scripts/sandbox-tsan CACHE INTERNAL "")
endif()

# Tests left out of the ThreadSanitizer build: name, then the reason, printed at configure time.
set(VK_FUERA_DE_TSAN
  fuzz_test "runs the libFuzzer target, which is built with ASan only"
  csipua_fuzz_test "runs the libFuzzer target, which is built with ASan only"
  rtcp_test "the RTP layer has no thread, and its interval cases poll a stepped clock 30 000 times: minutes here")

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
    if(VK_TSAN)
      list(FIND VK_FUERA_DE_TSAN ${name} i)
      if(i GREATER_EQUAL 0)
        math(EXPR i "${i} + 1")
        list(GET VK_FUERA_DE_TSAN ${i} motivo)
        message(STATUS "Not in the ThreadSanitizer build: ${name} (${motivo})")
        continue()
      endif()
    endif()
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
    target_include_directories(${name} PRIVATE ${A_DIR})
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR ${VK_SANDBOX})
    gtest_discover_tests(${name}
      DISCOVERY_TIMEOUT 120
      PROPERTIES TIMEOUT ${A_TIMEOUT} ENVIRONMENT "VK_BUILD_DIR=${CMAKE_BINARY_DIR}")
  endforeach()
endfunction()
