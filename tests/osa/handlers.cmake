# Client method handlers, service records and nested requests, driven
# through OSA_Client_CmdParser with test callback tables.
osa_test(tests_osa_handlers
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/handler_defaults_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/handler_setup_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/handler_methods_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/context_nesting_test.cpp
  LAYERS osa::osa)
