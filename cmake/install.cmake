# What `cmake --install` puts where: the executables users run in bin/, the
# shared library in lib/ with its header in include/, the GDB host in
# share/osa_plugin/gdb/, and a package config so that find_package(osa_plugin)
# gives the imported target osa_plugin::osa_plugin (the shared library).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(OSA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/osa_plugin)

foreach(program osa_plugin osa_record osa_modeldbg osa_gdbproxy osa_postmortem)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

set_target_properties(osa_plugin_shared PROPERTIES EXPORT_NAME osa_plugin
                      PUBLIC_HEADER ${PROJECT_SOURCE_DIR}/include/osa_plugin.h)
target_include_directories(osa_plugin_shared INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS osa_plugin_shared EXPORT osa_pluginTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT osa_pluginTargets NAMESPACE osa_plugin:: DESTINATION ${OSA_INSTALL_CMAKEDIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/osa_pluginConfig.cmake.in
  ${PROJECT_BINARY_DIR}/osa_pluginConfig.cmake INSTALL_DESTINATION ${OSA_INSTALL_CMAKEDIR}
  PATH_VARS CMAKE_INSTALL_BINDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/osa_pluginConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/osa_pluginConfig.cmake
              ${PROJECT_BINARY_DIR}/osa_pluginConfigVersion.cmake
        DESTINATION ${OSA_INSTALL_CMAKEDIR})

# The GDB host: `source /usr/share/osa_plugin/gdb/osa.py` in GDB.
install(FILES ${PROJECT_SOURCE_DIR}/gdb/osa.py DESTINATION ${CMAKE_INSTALL_DATADIR}/osa_plugin/gdb)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/gdb/osahost DESTINATION ${CMAKE_INSTALL_DATADIR}/osa_plugin/gdb
        FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
