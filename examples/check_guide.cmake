# Checks that every ```cpp block of the guide is a piece of one of the example programs, so that
# every snippet a reader copies has been compiled and run. Leading spaces of each line are
# ignored on both sides, so the guide may show code less indented than the program holds it.
#
#   cmake -DGUIDE=<docs/guide.md> -DEXAMPLES=<examples dir> -P check_guide.cmake

cmake_minimum_required(VERSION 3.25)

foreach(variable IN ITEMS GUIDE EXAMPLES)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "check_guide.cmake needs -D${variable}=...")
    endif()
endforeach()

function(strip_indentation text out)
    string(REGEX REPLACE "(^|\n)[ ]+" "\\1" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

file(GLOB sources ${EXAMPLES}/*.cpp)
set(programs "")
foreach(source IN LISTS sources)
    file(READ ${source} content)
    string(APPEND programs "${content}\n")
endforeach()
strip_indentation("${programs}" programs)

file(READ ${GUIDE} guide)
set(opening "```cpp\n")
string(LENGTH "${opening}" opening_length)
set(blocks 0)
set(missing 0)
while(TRUE)
    string(FIND "${guide}" "${opening}" start)
    if(start EQUAL -1)
        break()
    endif()
    math(EXPR start "${start} + ${opening_length}")
    string(SUBSTRING "${guide}" ${start} -1 guide)
    string(FIND "${guide}" "```" end)
    if(end EQUAL -1)
        message(FATAL_ERROR "${GUIDE}: a ```cpp block is never closed")
    endif()
    string(SUBSTRING "${guide}" 0 ${end} block)
    string(SUBSTRING "${guide}" ${end} -1 guide)
    math(EXPR blocks "${blocks} + 1")

    strip_indentation("${block}" stripped)
    string(FIND "${programs}" "${stripped}" found)
    if(found EQUAL -1)
        math(EXPR missing "${missing} + 1")
        message(SEND_ERROR "C++ block ${blocks} of the guide is in no example:\n${block}")
    endif()
endwhile()

if(blocks EQUAL 0)
    message(FATAL_ERROR "${GUIDE} has no ```cpp block")
endif()
if(missing GREATER 0)
    message(FATAL_ERROR "${missing} of ${blocks} C++ blocks of the guide are in no example")
endif()
message(STATUS "all ${blocks} C++ blocks of the guide are in the examples")
