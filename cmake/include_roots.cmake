# Per-library include roots: the layering, enforced by the compiler.
#
# Headers stay beside their sources and keep the spellings the tree uses ("driver/wd_records.h",
# "sim/board.h", "p9050_lib.h"). No target has the project root on its include path. Instead each
# library gets include roots of its own in the build tree, made of symbolic links to the headers it
# offers:
#
#   build/include_roots/<target>/public/   its users' view (PUBLIC): the headers listed as PUBLIC,
#                                          or whole folders listed as PUBLIC_FOLDERS
#   build/include_roots/<target>/private/  its own sources' extra view (PRIVATE)
#
# A header is reachable from a source only through the roots of the libraries that source's target
# links, so a header of a library not linked - or one its library keeps private - is "No such
# file" to the compiler. Diagnostics and debuggers show the link's path; editing it edits the
# source. Roots are rebuilt on every configure, so a header dropped from a list disappears too.
#
# zarerera_include_root(<target>
#                       [PUBLIC <path>...]          e.g. driver/wd_records.h
#                       [PUBLIC_AS <path> <spelling>]...  a header included by another name
#                       [PUBLIC_FOLDERS <folder>...]      e.g. sim (every header in it)
#                       [PRIVATE <path>...]
#                       [PRIVATE_FOLDERS <folder>...])
# Paths are relative to the project root.
function(zarerera_include_root target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" ""
                        "PUBLIC;PUBLIC_AS;PUBLIC_FOLDERS;PRIVATE;PRIVATE_FOLDERS")
  set(root ${PROJECT_BINARY_DIR}/include_roots/${target})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/public)

  set(links "")
  foreach(path IN LISTS ARG_PUBLIC)
    list(APPEND links "${path}" "public/${path}")
  endforeach()
  foreach(folder IN LISTS ARG_PUBLIC_FOLDERS)
    list(APPEND links "${folder}" "public/${folder}")
  endforeach()
  list(LENGTH ARG_PUBLIC_AS count)
  if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(i RANGE 0 ${last} 2)
      math(EXPR j "${i} + 1")
      list(GET ARG_PUBLIC_AS ${i} path)
      list(GET ARG_PUBLIC_AS ${j} spelling)
      list(APPEND links "${path}" "public/${spelling}")
    endforeach()
  endif()
  foreach(path IN LISTS ARG_PRIVATE)
    list(APPEND links "${path}" "private/${path}")
  endforeach()
  foreach(folder IN LISTS ARG_PRIVATE_FOLDERS)
    list(APPEND links "${folder}" "private/${folder}")
  endforeach()

  list(LENGTH links count)
  if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(i RANGE 0 ${last} 2)
      math(EXPR j "${i} + 1")
      list(GET links ${i} source)
      list(GET links ${j} link)
      if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${source})
        message(FATAL_ERROR "${target}: header or folder ${source} does not exist")
      endif()
      get_filename_component(dir ${root}/${link} DIRECTORY)
      file(MAKE_DIRECTORY ${dir})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${source} ${root}/${link} SYMBOLIC)
    endforeach()
  endif()

  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root}/public)
    return()
  endif()
  if(ARG_PUBLIC OR ARG_PUBLIC_AS OR ARG_PUBLIC_FOLDERS)
    target_include_directories(${target} PUBLIC ${root}/public)
  endif()
  if(ARG_PRIVATE OR ARG_PRIVATE_FOLDERS)
    target_include_directories(${target} PRIVATE ${root}/private)
  endif()
endfunction()
