# The system libraries that are no Known DLL (comctl32, crypt32, wintrust, bcrypt, secur32): the
# shipped binaries import them late, through delay-import libraries made here from MinGW's own
# import libraries, and runtime/SystemLibrary's hook loads each from the system folder when it
# is first called. At load time the binaries then name only Known DLLs (and the engine), which
# Windows never takes from the program's folder. `delay_<name>` links such a library.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
# A delay-import library's stub for a function is kept only where code calls the function by its
# own name: the i686 linker drops the stubs of an import library that are reached through their
# import slots alone, and the slot then holds nothing. So the system headers are told to declare
# these libraries' functions plainly rather than as imports (bcrypt's and wintrust's are already).
add_compile_definitions(_COMCTL32_ _NO_KSECDD_IMPORT_ WINIMPM= WINCRYPT32API= WINCRYPT32STRINGAPI=
                        DPAPI_IMP=)
find_library(DELAYIMP_LIBRARY delayimp REQUIRED)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(DELAY_MACHINE i386:x86-64)
else()
  set(DELAY_MACHINE i386)
endif()
string(REGEX REPLACE "gcc(-posix)?$" "" TOOL_PREFIX "${CMAKE_C_COMPILER}")
foreach(name comctl32 crypt32 wintrust bcrypt secur32)
  find_library(IMPORT_LIBRARY_${name} ${name} REQUIRED)
  set(out ${CMAKE_BINARY_DIR}/delay/lib${name}_delay.a)
  add_custom_command(OUTPUT ${out}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delay
                     COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/cmake/delay_import.py
                             ${TOOL_PREFIX}nm ${TOOL_PREFIX}dlltool ${IMPORT_LIBRARY_${name}}
                             ${name}.dll ${DELAY_MACHINE} ${out}
                     DEPENDS ${PROJECT_SOURCE_DIR}/cmake/delay_import.py VERBATIM)
  add_custom_target(delay_${name}_library DEPENDS ${out})
  add_library(delay_${name} INTERFACE)
  target_link_libraries(delay_${name} INTERFACE ${out} ${DELAYIMP_LIBRARY})
  add_dependencies(delay_${name} delay_${name}_library)
endforeach()
