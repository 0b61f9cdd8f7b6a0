# A debugger's full refresh of the 32-task model kernel over pipes to the
# osa_plugin executable, next to a plain echo through the same pipes and the
# same refresh in-process.
osa_bench(refresh_bench
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/refresh_bench.cpp
  LAYERS osa::tools)
target_compile_definitions(refresh_bench PRIVATE OSA_PLUGIN_PATH="$<TARGET_FILE:osa_plugin>")
add_dependencies(refresh_bench osa_plugin)
