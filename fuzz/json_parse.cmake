# Fuzz targets of the JSON library: the parser on arbitrary bytes, and the
# write/parse round trip that must reach a fixed point after one pass.
osa_fuzz(json_parse_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_parse_fuzz.cpp
  LAYERS osa::simple_json
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/json ${OSA_SHARED_CORPORA}/JSONTestSuite/test_parsing)

osa_fuzz(json_roundtrip_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_roundtrip_fuzz.cpp
  LAYERS osa::simple_json
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/json ${OSA_SHARED_CORPORA}/JSONTestSuite/test_parsing)
