# The GDB host's attribute numbers held to kernel/attribute_ids.def.
find_program(OSA_PYTHON3 python3)
if(OSA_PYTHON3)
  add_test(NAME gdb_host_attribute_ids
           COMMAND ${OSA_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/attribute_ids_check.py
                   ${PROJECT_SOURCE_DIR}/kernel/attribute_ids.def
                   ${PROJECT_SOURCE_DIR}/gdb/osahost/session.py)
endif()
