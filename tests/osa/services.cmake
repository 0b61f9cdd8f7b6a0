# Service wrappers and their helpers against a scripted debugger.
osa_test(tests_osa_services
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/service_requests_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/service_memory_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/service_values_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/service_helpers_test.cpp
  LAYERS osa::osa)
