# sipp's UAC with the ED-137 headers against the SIP user agent and against the layer's bare agent.
if(TARGET exosip_agente AND TARGET sip)
  add_executable(sip_ua_bench ${CMAKE_CURRENT_LIST_DIR}/sip_ua_bench.cpp)
  target_link_libraries(sip_ua_bench PRIVATE sip exosip_agente benchmark::benchmark Threads::Threads)
  target_include_directories(sip_ua_bench PRIVATE ${CMAKE_CURRENT_LIST_DIR}/soporte)
  target_compile_definitions(sip_ua_bench PRIVATE VK_ESCENARIO_ED137="${CMAKE_CURRENT_LIST_DIR}/soporte/uac_ed137.xml")
endif()
