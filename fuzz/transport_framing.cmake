# Fuzz target of the message framing: completeness, first-object framing and
# resumed brace scans on arbitrary bytes, and the receive path (carry-over,
# skipped stray bytes, dropped oversized messages) fed from a memory file and
# compared with a model of the stream.
osa_fuzz(transport_framing_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/transport_framing_fuzz.cpp
  LAYERS osa::plugin
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/transport_framing)
