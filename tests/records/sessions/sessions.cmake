# Hand-annotated sessions (tests/records/sessions/*.session), each played back
# by the plug-in with its comment lines stripped.
file(GLOB OSA_SESSIONS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.session)
foreach(session ${OSA_SESSIONS})
  get_filename_component(name ${session} NAME_WE)
  add_test(NAME session_${name}
           COMMAND ${CMAKE_COMMAND} -DPLUGIN=$<TARGET_FILE:osa_plugin> -DSESSION=${session}
                   -DRECORD=${CMAKE_CURRENT_BINARY_DIR}/session_${name}.rec
                   -P ${CMAKE_CURRENT_LIST_DIR}/play_session.cmake)
  set_tests_properties(session_${name} PROPERTIES TIMEOUT 60 LABELS records)
endforeach()
