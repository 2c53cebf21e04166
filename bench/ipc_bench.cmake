# IPC channel: Cola round trip against bare msgsnd/msgrcv, one-way messages per second.
add_executable(ipc_bench ${CMAKE_CURRENT_LIST_DIR}/ipc_bench.cpp)
target_link_libraries(ipc_bench PRIVATE plataforma benchmark::benchmark)
