# The plug-in's resource folder (the factory presets and tunings in resources/): staged as Tavrin.resources
# beside the built module, where the module looks first, and installed with the module.
set(TAVRIN_INSTALL_LAYOUT user CACHE STRING
  "cmake --install puts the plug-in in $HOME/.clap (user, HOME read at install time) or in <prefix>/lib/clap with its resources in <prefix>/share/tavrin and its editor's helper in <prefix>/libexec/tavrin (system)")
set_property(CACHE TAVRIN_INSTALL_LAYOUT PROPERTY STRINGS user system)
if(NOT TAVRIN_INSTALL_LAYOUT MATCHES "^(user|system)$")
  message(FATAL_ERROR "TAVRIN_INSTALL_LAYOUT is user or system, not '${TAVRIN_INSTALL_LAYOUT}'")
endif()

set(_resources_source ${PROJECT_SOURCE_DIR}/resources)
set(_resources_staged ${PROJECT_BINARY_DIR}/Tavrin.resources)
set(_resources_stamp ${CMAKE_CURRENT_BINARY_DIR}/resources.stamp)
file(GLOB_RECURSE _resource_files CONFIGURE_DEPENDS ${_resources_source}/*)
# The list of files is a dependency too, so that a file removed from resources/ leaves the staged folder.
set(_resource_list ${CMAKE_CURRENT_BINARY_DIR}/resource-files.txt)
string(JOIN "\n" _resource_lines ${_resource_files})
file(CONFIGURE OUTPUT ${_resource_list} CONTENT "${_resource_lines}\n" @ONLY)

add_custom_command(OUTPUT ${_resources_stamp}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${_resources_staged}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${_resources_source} ${_resources_staged}
  COMMAND ${CMAKE_COMMAND} -E touch ${_resources_stamp}
  DEPENDS ${_resource_files} ${_resource_list}
  COMMENT "Staging Tavrin.resources beside the module"
  VERBATIM)
add_custom_target(tavrin_resources DEPENDS ${_resources_stamp})
add_dependencies(Tavrin tavrin_resources)

if(TAVRIN_EDITOR)
  set(_helper "$<TARGET_FILE:tavrin-editor>")
endif()
install(CODE "
  set(TAVRIN_LAYOUT \"${TAVRIN_INSTALL_LAYOUT}\")
  set(TAVRIN_HELPER \"${_helper}\")
  set(TAVRIN_MODULE \"$<TARGET_FILE:Tavrin>\")
  set(TAVRIN_RESOURCES \"${_resources_staged}\")
  set(TAVRIN_STRIP \"${CMAKE_STRIP}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/InstallBundle.cmake\")")
