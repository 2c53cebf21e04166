# sipp's UAC against a minimal user agent on the SIP layer and against sipp's own UAS.
if(TARGET exosip_agente)
  add_executable(sip_bench ${CMAKE_CURRENT_LIST_DIR}/sip_bench.cpp)
  target_link_libraries(sip_bench PRIVATE exosip_agente benchmark::benchmark Threads::Threads)
  target_include_directories(sip_bench PRIVATE ${CMAKE_CURRENT_LIST_DIR}/soporte)
endif()
