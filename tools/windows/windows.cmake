# Windows, 32-bit and 64-bit, MSVC and MinGW-w64 (included by CMakeLists.txt).
#
# Modules are .pyd files exporting only their init function, linked against
# the interpreter's import library and each driver's import library; the
# drivers are bound through the import table, VISA32.dll by ordinal.  The
# simulated drivers are DLLs exporting the drivers' undecorated names, as the
# vendors' DLLs do on 32-bit, where the functions are __stdcall.
#
# On Windows the interpreter is asked for its headers and import library.
# Cross-building (./run windows), PYTHON is a host interpreter of the same
# version: its headers are used with our Windows pyconfig.h, and the import
# library is made from what the modules' objects import.

# The simulated DLLs carry the real drivers' names; they live in instrsim/,
# never beside the modules, so a module loads them only when instrsim has
# loaded them first (by full path).

set(PYTHON_INCLUDE "" CACHE PATH "Directory of the interpreter's Python.h (default: asked of PYTHON)")
set(PYTHON_LIBRARY "" CACHE FILEPATH "Interpreter import library, e.g. C:/Python311-32/libs/python311.lib")
set(PYTHON_EXT_SUFFIX "" CACHE STRING "Module file suffix (default: asked of PYTHON)")

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(WINDOWS_32 ON)
  set(win_platform win32)
else()
  set(WINDOWS_32 OFF)
  set(win_platform win_amd64)
endif()

execute_process(
  COMMAND ${PYTHON} -c "import os, sys, sysconfig as s
print(s.get_paths()['include'])
print('%d%d' % sys.version_info[:2])
print(os.path.join(getattr(sys, 'base_prefix', sys.prefix), 'libs', 'python%d%d.lib' % sys.version_info[:2]))
print(s.get_config_var('EXT_SUFFIX') or s.get_config_var('SO'))"
  OUTPUT_VARIABLE python_config OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PYTHON} did not run; give -DPYTHON=<path of python.exe>")
endif()
string(REPLACE "\n" ";" python_config "${python_config}")
list(GET python_config 0 python_headers)
list(GET python_config 1 PYTHON_XY)  # 311, 27
list(GET python_config 2 python_lib)
list(GET python_config 3 python_suffix)
set(PYTHON_DLL python${PYTHON_XY}.dll)

if(CMAKE_CROSSCOMPILING)
  # The host's headers with the Windows pyconfig.h of the same line, staged
  # together: Python.h includes "pyconfig.h" from its own directory.
  string(SUBSTRING ${PYTHON_XY} 0 1 major)
  set(staged ${CMAKE_BINARY_DIR}/python-include)
  file(REMOVE_RECURSE ${staged})
  file(COPY ${python_headers}/ DESTINATION ${staged})
  file(COPY ${CMAKE_SOURCE_DIR}/tools/windows/python${major}/pyconfig.h
            ${CMAKE_SOURCE_DIR}/tools/windows/pyconfig-windows.h DESTINATION ${staged})
  if(NOT PYTHON_INCLUDE)
    set(PYTHON_INCLUDE ${staged})
  endif()
  if(major EQUAL 2)
    set(python_suffix .pyd)
  else()
    set(python_suffix .cp${PYTHON_XY}-${win_platform}.pyd)
  endif()
else()
  if(NOT PYTHON_LIBRARY)
    set(PYTHON_LIBRARY ${python_lib})
  endif()
  if(NOT PYTHON_INCLUDE)
    set(PYTHON_INCLUDE ${python_headers})
  endif()
endif()
if(NOT PYTHON_EXT_SUFFIX)
  set(PYTHON_EXT_SUFFIX ${python_suffix})
endif()
if(NOT EXISTS "${PYTHON_INCLUDE}/Python.h")
  message(FATAL_ERROR "No Python.h in ${PYTHON_INCLUDE}; give -DPYTHON_INCLUDE=")
endif()
message(STATUS "Python headers: ${PYTHON_INCLUDE}; modules *${PYTHON_EXT_SUFFIX} for ${PYTHON_DLL}")

if(MINGW AND NOT WINDOWS_32 AND NOT CMAKE_CROSSCOMPILING)
  add_compile_definitions(MS_WIN64)  # the interpreter's pyconfig.h sets it for MSVC only
endif()
if(MINGW)
  # No MinGW runtime DLL to ship: libgcc, libstdc++ and winpthread linked in.
  add_link_options(-static -static-libgcc -static-libstdc++ $<$<CONFIG:Release>:-s>)
endif()

if(MINGW AND PYTHON_XY STREQUAL "27")
  # 2.7 declares PyErr_Format with the printf archetype, which MinGW checks
  # as msvcrt's printf (no %zu); the interpreter's own formatter has it.
  add_compile_options(-Wno-format)
endif()

# Import library made from a module-definition file.
function(windows_import_library out def)
  if(MSVC)
    if(WINDOWS_32)
      set(machine X86)
    else()
      set(machine X64)
    endif()
    add_custom_command(OUTPUT ${out} COMMAND ${CMAKE_AR} /nologo /def:${def} /machine:${machine} /out:${out}
                       DEPENDS ${def} VERBATIM)
  else()
    add_custom_command(OUTPUT ${out} COMMAND ${CMAKE_DLLTOOL} --kill-at -d ${def} -l ${out}
                       DEPENDS ${def} VERBATIM)
  endif()
endfunction()

# The VISA32.dll ordinals.  The import library names the functions as this
# build's objects do (f@N on 32-bit) and imports them by ordinal (NONAME);
# the simulated VISA32.dll exports them undecorated (MSVC's linker finds the
# f@N of a plain name itself; ld drops the @N with --kill-at).
file(READ ${CMAKE_SOURCE_DIR}/tools/windows/VISA32.def visa_def)
if(NOT WINDOWS_32)
  string(REGEX REPLACE "([A-Za-z])@[0-9]+" "\\1" visa_def "${visa_def}")
endif()
string(REGEX REPLACE "(@1[0-9][0-9])" "\\1 NONAME" visa_imports "${visa_def}")
file(WRITE ${CMAKE_BINARY_DIR}/lib/VISA32-ordinals.def "${visa_imports}")
if(MSVC)
  string(REGEX REPLACE "([A-Za-z])@[0-9]+" "\\1" visa_def "${visa_def}")
endif()
file(WRITE ${CMAKE_BINARY_DIR}/lib/VISA32-exports.def "${visa_def}")
if(MSVC)
  set(VISA_ORDINALS ${CMAKE_BINARY_DIR}/lib/VISA32-ordinals.lib)
else()
  set(VISA_ORDINALS ${CMAKE_BINARY_DIR}/lib/libVISA32-ordinals.a)
endif()
windows_import_library(${VISA_ORDINALS} ${CMAKE_BINARY_DIR}/lib/VISA32-ordinals.def)
add_custom_target(visa32_ordinals DEPENDS ${VISA_ORDINALS})

# A simulated driver DLL: named as the vendor's, exporting undecorated names.
function(windows_sim_dll target)
  set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "lib")
endfunction()

function(windows_sim_driver target driver)
  windows_sim_dll(${target})
  if(target STREQUAL "visa32")
    set_target_properties(${target} PROPERTIES OUTPUT_NAME VISA32)
    target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/lib/VISA32-exports.def)
  endif()
  if(NOT WINDOWS_32)
    return()
  endif()
  if(MSVC)
    # MSVC exports undecorated __stdcall names from a module-definition file:
    # the driver table's functions (tools/drivertable.py).
    if(NOT target STREQUAL "visa32")
      target_sources(${target} PRIVATE ${DRIVER_TABLES}/${driver}_exports.def)
    endif()
  else()
    # ld exports the names without @N; the import library it writes would
    # drop them too, so it is remade from the decorated names ld lists.
    set(listed ${CMAKE_BINARY_DIR}/lib/${target}-linked.def)
    target_link_options(${target} PRIVATE -Wl,--kill-at -Wl,--output-def,${listed})
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DIN=${listed} -DDLL=$<TARGET_FILE_NAME:${target}> -DDLLTOOL=${CMAKE_DLLTOOL}
              -DOUT=$<TARGET_LINKER_FILE:${target}> -P ${CMAKE_SOURCE_DIR}/tools/windows/stdcall_implib.cmake
      VERBATIM)
  endif()
endfunction()

# A module: .pyd, init function the only export.
function(windows_module target)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX "${PYTHON_EXT_SUFFIX}")
  if(MINGW)
    target_link_options(${target} PRIVATE -Wl,--exclude-all-symbols)
  endif()
  if(PYTHON_LIBRARY)
    target_link_libraries(${target} PRIVATE ${PYTHON_LIBRARY})
  else()
    set_property(GLOBAL APPEND PROPERTY windows_modules ${target})
  endif()
endfunction()

# Cross-build: the interpreter's import library, from the API functions and
# data the modules' objects import.  Called once all modules are defined.
function(windows_python_implib)
  get_property(modules GLOBAL PROPERTY windows_modules)
  if(NOT modules)
    return()
  endif()
  set(objects "")  # '|'-separated: one command-line argument
  set(object_files "")
  foreach(m ${modules})
    string(APPEND objects "|$<JOIN:$<TARGET_OBJECTS:${m}_objects>,|>")
    list(APPEND object_files $<TARGET_OBJECTS:${m}_objects>)
  endforeach()
  set(implib ${CMAKE_BINARY_DIR}/lib/lib${PYTHON_DLL}.a)
  if(WINDOWS_32)
    set(prefix _)
  endif()
  add_custom_command(OUTPUT ${implib}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL} -DDLL=${PYTHON_DLL}
            -DINCLUDE=${PYTHON_INCLUDE} "-DOBJECTS=${objects}" -DPREFIX=${prefix} -DOUT=${implib}
            -P ${CMAKE_SOURCE_DIR}/tools/windows/python_implib.cmake
    DEPENDS ${object_files} ${CMAKE_SOURCE_DIR}/tools/windows/python_implib.cmake
    VERBATIM)
  add_custom_target(python_implib DEPENDS ${implib})
  foreach(m ${modules})
    add_dependencies(python_implib ${m}_objects)
  endforeach()
  foreach(m ${modules})
    add_dependencies(${m} python_implib)
    target_link_libraries(${m} PRIVATE ${implib})
  endforeach()
endfunction()
