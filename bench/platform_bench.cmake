# Platform basics: logging against spdlog's own rotating sink, timer arm+cancel.
add_executable(platform_bench ${CMAKE_CURRENT_LIST_DIR}/platform_bench.cpp)
target_link_libraries(platform_bench PRIVATE plataforma benchmark::benchmark)
