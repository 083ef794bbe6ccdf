# Checks that a shared library's dynamic symbol table defines exactly the board API's eight
# global names, and the names of the list EXTRA when given.
# Run as: cmake -DNM=<nm> -DLIBRARY=<path> [-DEXTRA=<name;name...>] -P check_exports.cmake
set(expected tamrelcheck tamrelclose tamreldi tamreldo tamrelread tamrelwrite tamreljs tamreljsset
             ${EXTRA})

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE listing
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()

# Lines are "address type name"; upper-case types are global (lower-case ones local).
set(exported)
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) ([^ ]+)$")
    set(type ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_2})
    string(TOUPPER "${type}" upper)
    if(type STREQUAL upper)
      list(APPEND exported ${name})
    endif()
  endif()
endforeach()

list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exported: ${exported}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${exported}")
