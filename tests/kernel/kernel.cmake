# Kernel awareness against model kernels of every build variant, answered by
# the model debugger in this process: discovery, structure access, object
# lists, attributes, task states and commands, task registers.
osa_test(tests_kernel
  SOURCES discovery_test.cpp structure_access_test.cpp object_list_test.cpp attributes_test.cpp
          task_registers_test.cpp
  LAYERS osa::debugger)
