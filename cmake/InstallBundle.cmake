# Installs the built module, its resource folder and the editor's helper program; cmake --install runs it
# (see Resources.cmake).
#   user:   $HOME/.clap/Tavrin.clap and $HOME/.clap/Tavrin.resources (the helper inside), with HOME read here
#   system: <prefix>/lib/clap/Tavrin.clap, <prefix>/share/tavrin and <prefix>/libexec/tavrin/tavrin-editor
# The installed module and helper are stripped. Inputs: TAVRIN_LAYOUT, TAVRIN_MODULE, TAVRIN_RESOURCES,
# TAVRIN_HELPER (empty in a build without the editor), TAVRIN_STRIP and CMAKE_INSTALL_PREFIX; DESTDIR is
# honoured.
if(TAVRIN_LAYOUT STREQUAL "system")
  set(_module_dir "${CMAKE_INSTALL_PREFIX}/lib/clap")
  set(_resources_dir "${CMAKE_INSTALL_PREFIX}/share/tavrin")
  set(_helper_dir "${CMAKE_INSTALL_PREFIX}/libexec/tavrin")
elseif(TAVRIN_LAYOUT STREQUAL "user")
  if(NOT "$ENV{HOME}" MATCHES "^/")
    message(FATAL_ERROR "The user layout installs into $HOME/.clap, and HOME is not an absolute path")
  endif()
  set(_module_dir "$ENV{HOME}/.clap")
  set(_resources_dir "${_module_dir}/Tavrin.resources")
  set(_helper_dir "${_resources_dir}")
else()
  message(FATAL_ERROR "Unknown install layout '${TAVRIN_LAYOUT}'")
endif()

file(INSTALL "${TAVRIN_MODULE}" DESTINATION "${_module_dir}"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(INSTALL "${TAVRIN_RESOURCES}/" DESTINATION "${_resources_dir}")

get_filename_component(_module_name "${TAVRIN_MODULE}" NAME)
set(_installed "${_module_dir}/${_module_name}")
if(TAVRIN_HELPER)
  file(INSTALL "${TAVRIN_HELPER}" DESTINATION "${_helper_dir}"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  get_filename_component(_helper_name "${TAVRIN_HELPER}" NAME)
  list(APPEND _installed "${_helper_dir}/${_helper_name}")
endif()
foreach(_file ${_installed})
  execute_process(COMMAND "${TAVRIN_STRIP}" "$ENV{DESTDIR}${_file}" RESULT_VARIABLE _strip_result)
  if(NOT _strip_result EQUAL 0)
    message(FATAL_ERROR "Could not strip ${_file} with '${TAVRIN_STRIP}'")
  endif()
endforeach()
