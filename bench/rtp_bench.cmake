# RTP layer: 172-byte G.711 packets between two sessions on loopback, against bare UDP and oRTP.
pkg_check_modules(RTPBENCH_ORTP IMPORTED_TARGET ortp bctoolbox)
if(TARGET jrtp AND RTPBENCH_ORTP_FOUND)
  add_executable(rtp_bench ${CMAKE_CURRENT_LIST_DIR}/rtp_bench.cpp)
  target_link_libraries(rtp_bench PRIVATE jrtp PkgConfig::RTPBENCH_ORTP benchmark::benchmark)
endif()
