# Installs the built module and its resource folder; cmake --install runs it (see Resources.cmake).
#   user:   $HOME/.clap/Tavrin.clap and $HOME/.clap/Tavrin.resources, with HOME read here
#   system: <prefix>/lib/clap/Tavrin.clap and <prefix>/share/tavrin
# The installed module is stripped. Inputs: TAVRIN_LAYOUT, TAVRIN_MODULE, TAVRIN_RESOURCES, TAVRIN_STRIP and
# CMAKE_INSTALL_PREFIX; DESTDIR is honoured.
if(TAVRIN_LAYOUT STREQUAL "system")
  set(_module_dir "${CMAKE_INSTALL_PREFIX}/lib/clap")
  set(_resources_dir "${CMAKE_INSTALL_PREFIX}/share/tavrin")
elseif(TAVRIN_LAYOUT STREQUAL "user")
  if(NOT "$ENV{HOME}" MATCHES "^/")
    message(FATAL_ERROR "The user layout installs into $HOME/.clap, and HOME is not an absolute path")
  endif()
  set(_module_dir "$ENV{HOME}/.clap")
  set(_resources_dir "${_module_dir}/Tavrin.resources")
else()
  message(FATAL_ERROR "Unknown install layout '${TAVRIN_LAYOUT}'")
endif()

file(INSTALL "${TAVRIN_MODULE}" DESTINATION "${_module_dir}"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(INSTALL "${TAVRIN_RESOURCES}/" DESTINATION "${_resources_dir}")

get_filename_component(_module_name "${TAVRIN_MODULE}" NAME)
execute_process(COMMAND "${TAVRIN_STRIP}" "$ENV{DESTDIR}${_module_dir}/${_module_name}" RESULT_VARIABLE _strip_result)
if(NOT _strip_result EQUAL 0)
  message(FATAL_ERROR "Could not strip ${_module_dir}/${_module_name} with '${TAVRIN_STRIP}'")
endif()
