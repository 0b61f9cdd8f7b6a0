# Fuzz target of the gdb-remote packet layer: the decoder whole and in
# chunks, packet round trips, bounded memory, and the hex, thread-id and
# feature parsers.
osa_fuzz(rsp_packet_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/rsp_packet_fuzz.cpp
  LAYERS osa::rsp
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/rsp_packet)
