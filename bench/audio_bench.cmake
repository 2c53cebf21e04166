# Audio path of one line: a 20 ms frame through decode, jitter buffer, mixer and encode; G.711 alone.
add_executable(audio_bench ${CMAKE_CURRENT_LIST_DIR}/audio_bench.cpp)
target_link_libraries(audio_bench PRIVATE recurso benchmark::benchmark)
