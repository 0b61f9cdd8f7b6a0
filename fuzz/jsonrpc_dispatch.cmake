# Fuzz target of the JSON-RPC dispatcher: any text must give a response that
# is a JSON-RPC 2.0 envelope.
osa_fuzz(jsonrpc_dispatch_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/jsonrpc_dispatch_fuzz.cpp
  LAYERS osa::jsonrpc
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/jsonrpc ${OSA_SHARED_CORPORA}/JSONTestSuite/test_parsing)
