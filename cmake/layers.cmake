# One library target per folder of tools.dll's code, each seeing only the
# headers of the folders it may use, so that an include that runs up the
# layers, or across them, fails to compile.
#
# Code includes a folder's headers by the folder's name ("base/seam.h"), and
# the source tree itself is on no include path. Each folder is reached
# through a directory of its own in the build tree that holds only a link to
# it: a target whose USES name a folder gets that directory, others do not.
#
#   tk_layer(<folder> [USES <folder>...] [PUBLIC_HEADERS <header>...]
#            SOURCES <source>...)
#
# makes tk_<folder>, the folder's compiled code, and tk_<folder>_headers,
# what a folder that uses it may include: its PUBLIC_HEADERS alone when they
# are named, else all of its headers; and, through USES, what it may use in
# turn. The public headers under include/ are open to every folder.
#
# The library's own tests reach behind the layers: tk_internal gives them
# every folder's headers and every object file.

add_library(tk_public INTERFACE)
target_include_directories(tk_public INTERFACE ${CMAKE_SOURCE_DIR}/include)

add_library(tk_internal INTERFACE)
target_compile_definitions(tk_internal INTERFACE TOOLS_BUILDING_DLL)
target_link_libraries(tk_internal INTERFACE tk_public ${TOOLS_ZLIB} gdi32 user32)
set_property(GLOBAL PROPERTY TK_LAYERS "")

function(tk_layer folder)
  cmake_parse_arguments(L "" "" "USES;PUBLIC_HEADERS;SOURCES" ${ARGN})
  set(source ${CMAKE_SOURCE_DIR}/${folder})
  set(stage ${CMAKE_BINARY_DIR}/layers/${folder})
  # all/<folder> is the whole folder, for its own code and the tests;
  # public/<folder> what others may include.
  file(MAKE_DIRECTORY ${stage}/all ${stage}/public)
  file(CREATE_LINK ${source} ${stage}/all/${folder} SYMBOLIC)
  if(L_PUBLIC_HEADERS)
    file(REMOVE_RECURSE ${stage}/public/${folder})
    file(MAKE_DIRECTORY ${stage}/public/${folder})
    foreach(header ${L_PUBLIC_HEADERS})
      file(CREATE_LINK ${source}/${header} ${stage}/public/${folder}/${header} SYMBOLIC)
    endforeach()
  else()
    file(CREATE_LINK ${source} ${stage}/public/${folder} SYMBOLIC)
  endif()

  add_library(tk_${folder}_headers INTERFACE)
  target_include_directories(tk_${folder}_headers INTERFACE ${stage}/public)
  add_library(tk_${folder} OBJECT ${L_SOURCES})
  target_include_directories(tk_${folder} PRIVATE ${stage}/all)
  target_compile_definitions(tk_${folder} PRIVATE TOOLS_BUILDING_DLL)
  target_link_libraries(tk_${folder} PRIVATE tk_public)
  foreach(used ${L_USES})
    if(NOT TARGET tk_${used}_headers)
      message(FATAL_ERROR "${folder} uses ${used}, which is not made before it")
    endif()
    target_link_libraries(tk_${folder}_headers INTERFACE tk_${used}_headers)
    target_link_libraries(tk_${folder} PRIVATE tk_${used}_headers)
  endforeach()

  target_include_directories(tk_internal INTERFACE ${stage}/all)
  target_sources(tk_internal INTERFACE $<TARGET_OBJECTS:tk_${folder}>)
  set_property(GLOBAL APPEND PROPERTY TK_LAYERS tk_${folder})
endfunction()
