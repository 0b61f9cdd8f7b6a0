# Fuzz targets of the JSON library: the parser on arbitrary bytes, and the
# write/parse round trip that must reach a fixed point after one pass.
osa_fuzz(json_parse_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_parse_fuzz.cpp
  LAYERS osa_simple_json osa_runtime
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/json ${OSA_SHARED_CORPORA}/JSONTestSuite/test_parsing)

osa_fuzz(json_roundtrip_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_roundtrip_fuzz.cpp
  LAYERS osa_simple_json osa_runtime
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/json ${OSA_SHARED_CORPORA}/JSONTestSuite/test_parsing)

# The library against its earlier heap-node form: same trees, same text, same
# error lines. The recorded sessions seed it message by message.
osa_fuzz(json_differential_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_differential_fuzz.cpp
          ${CMAKE_CURRENT_SOURCE_DIR}/json_reference.cpp
  LAYERS osa_simple_json osa_runtime
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/json ${OSA_SHARED_CORPORA}/JSONTestSuite/test_parsing
         ${PROJECT_SOURCE_DIR}/tests/records/model)
