# The whole board on 16 telephone lines: INVITE to 180 through core and line, CPU idle and with
# 4 calls in conversation, RSS of all its processes.
if(TARGET simboard_cliente)
  add_executable(system_bench ${CMAKE_CURRENT_LIST_DIR}/system_bench.cpp)
  target_include_directories(system_bench PRIVATE ${CMAKE_SOURCE_DIR}/src/vortik/tests ${CMAKE_SOURCE_DIR}/e2e
                             ${CMAKE_SOURCE_DIR}/ext/sip/agente)
  target_link_libraries(system_bench PRIVATE simboard_cliente benchmark::benchmark Threads::Threads)
  add_dependencies(system_bench velkord lintaro fonmira kalvesk dremson simboard standin cfgagent)
endif()
