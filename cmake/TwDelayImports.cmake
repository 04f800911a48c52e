# Delay-loaded system DLLs for the Windows builds.
#
# WinHTTP, COM and the shell pull user32 and gdi32 into the process, and their
# start-up under Wine costs more than the rest of a short run. A run that ends
# early never needs them, so they are imported through delay-load libraries:
# each DLL is loaded by the first call into it (mingw-w64's __delayLoadHelper2).
#
# tw_delay_import(<dll> ...) makes, for every name, an interface target
# tw_delay_<dll> that links the delay-load library made from the toolchain's
# own import library, followed by that import library for anything the delay
# library cannot carry (exported data).

function(_tw_delay_lib dll out)
  find_library(_tw_implib_${dll} NAMES lib${dll}.a ${dll} REQUIRED NO_CACHE)
  set(implib ${_tw_implib_${dll}})
  set(dir ${CMAKE_BINARY_DIR}/delayimp)
  set(lib ${dir}/lib${dll}_delay.a)
  set(${out} ${lib} PARENT_SCOPE)
  if(EXISTS ${lib} AND NOT ${implib} IS_NEWER_THAN ${lib})
    return()
  endif()
  file(MAKE_DIRECTORY ${dir})
  set(nm ${TW_TRIPLET}-nm)
  set(dlltool ${TW_TRIPLET}-dlltool)
  execute_process(COMMAND ${dlltool} --identify ${implib}
                  OUTPUT_VARIABLE dllname OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  # The import library's code thunks are the DLL's functions.
  execute_process(COMMAND ${nm} -g --defined-only ${implib}
                  OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[0-9a-fA-F]+ T [^\n]+" thunks "${symbols}")
  set(exports "")
  foreach(t IN LISTS thunks)
    string(REGEX REPLACE "^[0-9a-fA-F]+ T " "" name "${t}")
    if(TW_TRIPLET MATCHES "^i686")
      string(REGEX REPLACE "^_" "" name "${name}")  # the 32-bit C name carries a leading underscore
    endif()
    list(APPEND exports "${name}")
  endforeach()
  list(REMOVE_DUPLICATES exports)
  list(JOIN exports "\n  " body)
  file(WRITE ${dir}/${dll}.def "LIBRARY \"${dllname}\"\nEXPORTS\n  ${body}\n")
  set(flags "")
  if(TW_TRIPLET MATCHES "^i686")
    set(flags -k -m i386)  # stdcall names: decorated symbols, undecorated imports
  else()
    set(flags -m i386:x86-64)
  endif()
  execute_process(COMMAND ${dlltool} ${flags} -d ${dir}/${dll}.def -y ${lib}
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "delay-load library for ${dll}: ${err}")
  endif()
endfunction()

function(tw_delay_import)
  foreach(dll IN LISTS ARGN)
    if(TARGET tw_delay_${dll})
      continue()
    endif()
    _tw_delay_lib(${dll} lib)
    add_library(tw_delay_${dll} INTERFACE IMPORTED GLOBAL)
    set_target_properties(tw_delay_${dll} PROPERTIES INTERFACE_LINK_LIBRARIES "${lib};${dll}")
  endforeach()
endfunction()
