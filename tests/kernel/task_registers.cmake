# Task register access: the whole stack against the model debugger for every
# kernel variant, and the register operation called directly with kernel
# records a target could not easily produce, answered from a model.
osa_test(tests_kernel_task_registers
  SOURCES task_registers_model_test.cpp task_registers_edge_test.cpp
  LAYERS)
target_link_libraries(tests_kernel_task_registers PRIVATE osa_debugger)
