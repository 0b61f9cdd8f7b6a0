# End-to-end tests of osa_gdbproxy: GDB shows the model kernel's tasks as
# threads under QEMU on both boards (live, stepping and resuming, post-mortem
# from a core and a RAM image), and the proxy's packet layer and upstream
# under bad input, spoken raw. Both images are built once by a fixture;
# every test is skipped (exit code 77) when a tool it needs is missing.
if(TARGET osa_gdbproxy)
  set(OSA_PROXY_IMAGES ${CMAKE_CURRENT_BINARY_DIR}/images)
  set(OSA_PROXY_RUN ${CMAKE_CURRENT_LIST_DIR}/run_proxy_test.sh)

  add_test(NAME proxy_e2e_images COMMAND ${OSA_PROXY_RUN} --images ${PROJECT_SOURCE_DIR}
                                         ${OSA_PROXY_IMAGES})
  set_tests_properties(proxy_e2e_images PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60
                       LABELS target FIXTURES_SETUP osa_proxy_images)

  foreach(board m3 m4f)
    foreach(scenario live control postmortem)
      add_test(NAME proxy_e2e_${scenario}_${board}
               COMMAND ${OSA_PROXY_RUN} ${PROJECT_SOURCE_DIR} ${OSA_PROXY_IMAGES}
                       $<TARGET_FILE:osa_gdbproxy> ${board} ${scenario})
      set_tests_properties(proxy_e2e_${scenario}_${board} PROPERTIES SKIP_RETURN_CODE 77
                           TIMEOUT 90 LABELS target FIXTURES_REQUIRED osa_proxy_images)
    endforeach()
  endforeach()

  # An upstream that falls silent, with GDB's default remote timeout; a
  # plug-in that ends at once or never answers.
  foreach(scenario silent_upstream plugin_fails)
    add_test(NAME proxy_e2e_${scenario}
             COMMAND ${OSA_PROXY_RUN} ${PROJECT_SOURCE_DIR} ${OSA_PROXY_IMAGES}
                     $<TARGET_FILE:osa_gdbproxy> m3 ${scenario})
    set_tests_properties(proxy_e2e_${scenario} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60
                         LABELS target FIXTURES_REQUIRED osa_proxy_images)
  endforeach()

  foreach(wire wire wire_upstream)
    add_test(NAME proxy_e2e_${wire}
             COMMAND ${OSA_PROXY_RUN} ${PROJECT_SOURCE_DIR} ${OSA_PROXY_IMAGES}
                     $<TARGET_FILE:osa_gdbproxy> m3 ${wire})
    set_tests_properties(proxy_e2e_${wire} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 150
                         LABELS target FIXTURES_REQUIRED osa_proxy_images)
  endforeach()
endif()
