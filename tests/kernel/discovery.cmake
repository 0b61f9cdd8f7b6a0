# Kernel discovery, structure access and object lists against model kernels
# answered by the model debugger in this process.
osa_test(tests_kernel_discovery
  SOURCES discovery_target_init_test.cpp discovery_start_check_test.cpp discovery_session_test.cpp
          structure_access_test.cpp object_list_walk_test.cpp
  LAYERS)
target_link_libraries(tests_kernel_discovery PRIVATE osa_debugger)
