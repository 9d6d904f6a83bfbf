# Import library of a 32-bit DLL whose __stdcall exports carry no @N:
# callers' objects name `f@N`, the DLL exports `f` (dlltool --kill-at).
#   cmake -DIN=<def written by ld --output-def> -DDLL=x.dll -DDLLTOOL=... -DOUT=libx.dll.a -P stdcall_implib.cmake
cmake_minimum_required(VERSION 3.16)
file(STRINGS ${IN} lines REGEX "^[ \t]+[A-Za-z0-9_]+[ \t]*=")
set(def "LIBRARY ${DLL}\nEXPORTS\n")
foreach(line ${lines})
  # "    name = name@16 @3"
  if(line MATCHES "^[ \t]+[A-Za-z0-9_]+[ \t]*=[ \t]*([A-Za-z0-9_@]+)")
    string(APPEND def "    ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
file(WRITE ${OUT}.def "${def}")
execute_process(COMMAND ${DLLTOOL} --kill-at -d ${OUT}.def -l ${OUT} -D ${DLL} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dlltool failed for ${DLL}")
endif()
