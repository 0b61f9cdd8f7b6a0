# The kernel code's opt-in cache against model kernels of every build
# variant: the same answers on and off, the round trips of a full refresh,
# the commands and the life of what is kept.
osa_test(tests_kernel_cache
  SOURCES cache_test.cpp
  LAYERS osa::tools)
