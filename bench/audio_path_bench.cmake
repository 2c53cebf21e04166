# Audio path of one line through a real resource process on the simulated board: latency
# line PCM -> RTP and RTP -> line PCM over a minute of a call, CPU of one active session.
if(TARGET recurso AND TARGET simboard_cliente)
  add_executable(audio_path_bench ${CMAKE_CURRENT_LIST_DIR}/audio_path_bench.cpp)
  target_include_directories(audio_path_bench PRIVATE ${CMAKE_SOURCE_DIR}/src/recurso/tests)
  target_link_libraries(audio_path_bench PRIVATE recurso simboard_cliente benchmark::benchmark)
  add_dependencies(audio_path_bench fonmira simboard)
endif()
