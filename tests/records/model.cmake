# Golden records of the model debugger's session with the plug-in, one per
# model kernel variant (tests/records/model/<variant>.rec, written by
# tools/make_golden_records), each replayed by the plug-in's playback mode;
# and the check that the records of tests/records/ send every client method.
file(GLOB OSA_MODEL_RECORDS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/model/*.rec)
foreach(record ${OSA_MODEL_RECORDS})
  get_filename_component(name ${record} NAME_WE)
  add_test(NAME model_record_${name}
           COMMAND ${CMAKE_COMMAND} -DPLUGIN=$<TARGET_FILE:osa_plugin> -DRECORD=${record}
                   -P ${CMAKE_CURRENT_LIST_DIR}/play_record.cmake)
  set_tests_properties(model_record_${name} PROPERTIES TIMEOUT 120 LABELS records)
endforeach()

add_test(NAME records_cover_every_client_method
         COMMAND ${CMAKE_COMMAND} -DRECORDS_DIR=${CMAKE_CURRENT_LIST_DIR}
                 -P ${CMAKE_CURRENT_LIST_DIR}/method_coverage.cmake)
set_tests_properties(records_cover_every_client_method PROPERTIES LABELS records)

# The records are still what the model debugger and the plug-in say today:
# a change of either shows here until the records are made again (see
# tools/CMakeLists.txt, target golden_records).
if(TARGET make_golden_records)
  add_test(NAME model_records_current
           COMMAND make_golden_records --plugin $<TARGET_FILE:osa_plugin>
                   --out ${CMAKE_CURRENT_LIST_DIR}/model --check)
  set_tests_properties(model_records_current PROPERTIES TIMEOUT 300 LABELS records)
endif()
