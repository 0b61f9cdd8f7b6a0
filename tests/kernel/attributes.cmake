# Object attributes, task states and commands through the whole plug-in
# against the model kernels of every build variant.
osa_test(tests_kernel_attributes
  SOURCES attributes_objects_test.cpp attributes_formats_test.cpp
          task_status_commands_test.cpp
  LAYERS osa_kernel osa_interface osa_jsonrpc osa_simple_json osa_runtime)
target_link_libraries(tests_kernel_attributes PRIVATE osa_model osa_debugger)
