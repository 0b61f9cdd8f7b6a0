# Fuzz target of the kernel-awareness code: model kernels whose memory the
# input corrupts, refreshed by the linked plug-in through its JSON-RPC entry
# points and answered by the model debugger in this process.
osa_fuzz(kernel_target_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/kernel_target_fuzz.cpp
  LAYERS osa::debugger
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/kernel_target)
