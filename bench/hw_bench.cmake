# Hardware layer on the simulated board: request round trip, pacing of 20 ms audio reads.
add_executable(hw_bench ${CMAKE_CURRENT_LIST_DIR}/hw_bench.cpp)
target_link_libraries(hw_bench PRIVATE simboard_cliente plataforma benchmark::benchmark)
add_dependencies(hw_bench simboard)
