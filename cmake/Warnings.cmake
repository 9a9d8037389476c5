# Settings every target of the project shares.
add_compile_options(-ffp-contract=off -Wall -Wextra -Wshadow -Wno-unused-parameter)
# The optimised builds (the shipped module among them) run at -O3, where the block loops vectorise. No -march:
# the module must run on any x86_64.
foreach(_lang C CXX)
  string(REPLACE "-O2" "-O3" CMAKE_${_lang}_FLAGS_RELWITHDEBINFO "${CMAKE_${_lang}_FLAGS_RELWITHDEBINFO}")
endforeach()

if(TAVRIN_SANITIZE)
  set(_san -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${_san})
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
  add_link_options(${_san})
endif()
if(TAVRIN_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# One static library per folder, its sources found by glob so that new files need no list edits.
function(tavrin_folder_library target)
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  foreach(_sub ${ARGN})
    file(GLOB _more CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${_sub}/*.cpp)
    list(APPEND _sources ${_more})
  endforeach()
  if(NOT _sources)
    # A folder without sources yet still gives a static library, so that folder CMake files may set
    # PUBLIC properties and link it whole.
    set(_placeholder ${CMAKE_CURRENT_BINARY_DIR}/${target}_placeholder.cpp)
    file(WRITE ${_placeholder} "// ${target} has no sources yet.\n")
    set(_sources ${_placeholder})
  endif()
  add_library(${target} STATIC ${_sources})
  tavrin_export_folder(${target})
endfunction()

# A library exports only its own folder (or the folders given, relative to the project): its include root in
# the build tree holds one link per folder, named by the folder's path. "engine/X.h" then resolves only for
# targets that link the engine.
function(tavrin_export_folder target)
  set(_folders ${ARGN})
  if(NOT _folders)
    file(RELATIVE_PATH _folders ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  set(_root ${PROJECT_BINARY_DIR}/include/${target})
  foreach(_folder ${_folders})
    get_filename_component(_parent ${_root}/${_folder} DIRECTORY)
    file(MAKE_DIRECTORY ${_parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${_folder} ${_root}/${_folder} SYMBOLIC)
  endforeach()
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${_root})
  else()
    target_include_directories(${target} PUBLIC ${_root})
  endif()
endfunction()

function(tavrin_link target)
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "INTERFACE_LIBRARY")
    target_link_libraries(${target} INTERFACE ${ARGN})
  else()
    target_link_libraries(${target} PUBLIC ${ARGN})
  endif()
endfunction()

if(TAVRIN_FUZZ)
  # Undefined behaviour aborts the target, so that libFuzzer reports it as a crash with its input.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
