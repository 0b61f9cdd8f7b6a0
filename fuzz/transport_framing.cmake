# Fuzz target of the message framing: completeness and first-object framing
# on arbitrary bytes, and the receive path (with its carry-over between
# messages) fed from a pipe. The framing and transport files are compiled
# into the target itself, so that libFuzzer instruments them.
osa_fuzz(transport_framing_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/transport_framing_fuzz.cpp
          ${PROJECT_SOURCE_DIR}/plugin/framing.cpp
          ${PROJECT_SOURCE_DIR}/plugin/transport.cpp
  LAYERS osa_runtime
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/transport_framing)
