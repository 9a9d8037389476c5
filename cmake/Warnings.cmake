# Settings every target of the project shares.
add_compile_options(-ffp-contract=off -Wall -Wextra -Wno-unused-parameter)
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
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
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
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
