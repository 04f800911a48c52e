# Delay-loaded system DLLs for the Windows builds.
#
# WinHTTP, COM and the shell pull user32 and gdi32 into the process, and their
# start-up under Wine costs more than the rest of a short run. A run that ends
# early never needs them, so they are imported through delay-load libraries:
# each DLL is loaded by the first call into it (mingw-w64's __delayLoadHelper2).
#
# tw_delay_import(<dll> <function>...) makes an interface target tw_delay_<dll>
# that links a delay-load library holding exactly the functions named, made
# from the toolchain's own import library, followed by that import library for
# anything else (a function not named is imported at start-up as usual, which
# tw_check_delay_imports reports for the program).
#
# Every named function's delay thunk is linked by name (--undefined). The i686
# linker drops the thunk of an import-library member whose thunk symbol nobody
# references, taking it for the dead jump stub of an ordinary import; code that
# calls through __imp_ (functions declared dllimport, as the COM and shell
# headers do) references only the slot, so the slot of a delay import would
# point at nothing and the first call would jump to address 0.

function(_tw_delay_lib dll out_lib out_thunks)
  cmake_parse_arguments(PARSE_ARGV 3 D "" "" "")
  set(functions ${D_UNPARSED_ARGUMENTS})
  find_library(_tw_implib_${dll} NAMES lib${dll}.a ${dll} REQUIRED NO_CACHE)
  set(implib ${_tw_implib_${dll}})
  set(dir ${CMAKE_BINARY_DIR}/delayimp)
  set(lib ${dir}/lib${dll}_delay.a)
  set(${out_lib} ${lib} PARENT_SCOPE)
  set(nm ${TW_TRIPLET}-nm)
  set(dlltool ${TW_TRIPLET}-dlltool)
  execute_process(COMMAND ${dlltool} --identify ${implib}
                  OUTPUT_VARIABLE dllname OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  # The import library's code thunks are the DLL's functions; the 32-bit ones
  # carry a leading underscore and their stdcall decoration (_Name@12).
  execute_process(COMMAND ${nm} -g --defined-only ${implib}
                  OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[0-9a-fA-F]+ T [^\n]+" found "${symbols}")
  set(exports "")
  set(thunks "")
  foreach(function IN LISTS functions)
    set(match "")
    foreach(t IN LISTS found)
      string(REGEX REPLACE "^[0-9a-fA-F]+ T " "" symbol "${t}")
      string(REGEX REPLACE "^_?([^@]+)(@[0-9]+)?$" "\\1" plain "${symbol}")
      if(plain STREQUAL function)
        set(match ${symbol})
        break()
      endif()
    endforeach()
    if(NOT match)
      message(FATAL_ERROR "delay-load library for ${dll}: ${function} is not in ${implib}")
    endif()
    list(APPEND thunks ${match})
    if(TW_TRIPLET MATCHES "^i686")
      string(REGEX REPLACE "^_" "" match "${match}")
    endif()
    list(APPEND exports ${match})
  endforeach()
  set(${out_thunks} ${thunks} PARENT_SCOPE)
  list(JOIN exports "\n  " body)
  set(def ${dir}/${dll}.def)
  set(text "LIBRARY \"${dllname}\"\nEXPORTS\n  ${body}\n")
  if(EXISTS ${lib} AND EXISTS ${def} AND NOT ${implib} IS_NEWER_THAN ${lib})
    file(READ ${def} old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(MAKE_DIRECTORY ${dir})
  file(WRITE ${def} "${text}")
  if(TW_TRIPLET MATCHES "^i686")
    set(flags -k -m i386)  # stdcall names: decorated symbols, undecorated imports
  else()
    set(flags -m i386:x86-64)
  endif()
  file(REMOVE ${lib})
  execute_process(COMMAND ${dlltool} ${flags} -d ${def} -y ${lib}
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "delay-load library for ${dll}: ${err}")
  endif()
endfunction()

function(tw_delay_import dll)
  if(TARGET tw_delay_${dll})
    message(FATAL_ERROR "tw_delay_import(${dll}) given twice")
  endif()
  _tw_delay_lib(${dll} lib thunks ${ARGN})
  list(TRANSFORM thunks PREPEND "LINKER:--undefined=")
  add_library(tw_delay_${dll} INTERFACE IMPORTED GLOBAL)
  set_target_properties(tw_delay_${dll} PROPERTIES
    INTERFACE_LINK_LIBRARIES "${lib};${dll}"
    INTERFACE_LINK_OPTIONS "${thunks}")
endfunction()

# After each link of the program: every delay-import slot points at its thunk,
# and no delay-loaded DLL is imported at start-up as well.
function(tw_check_delay_imports target)
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND Python3::Interpreter ${TW_ROOT}/cmake/check-delay-imports.py
      --nm ${TW_TRIPLET}-nm $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
