# How the Windows binaries are compiled and linked. Every Windows build uses this, so that the
# tests run on the code we ship; the package (scripts/package) only builds it clean, keeps the
# symbols apart and strips them.

# Small: optimised for size; each function and object in a section of its own, so that the
# linker drops what nothing calls. (Two settings only bench/binary_size.sh changes, to show
# what each is worth.)
set(SHIPPED_OPTIMIZATION -Os CACHE STRING "The optimisation of the Windows binaries")
option(SHIPPED_GC_SECTIONS "Drop the functions and data nothing refers to" ON)
set(CMAKE_C_FLAGS_RELWITHDEBINFO "${SHIPPED_OPTIMIZATION} -g -DNDEBUG")
set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "${SHIPPED_OPTIMIZATION} -g -DNDEBUG")
if(SHIPPED_GC_SECTIONS)
  add_compile_options(-ffunction-sections -fdata-sections)
  add_link_options(-Wl,--gc-sections)
endif()

# Floating point in SSE2 registers, as on x86_64. The x87 unit keeps 80-bit intermediates
# wherever the optimiser leaves a value in a register, so results (the colour arithmetic's
# comparisons and ties) would change with the optimisation and differ from the native build's,
# which the tests pin down. Windows 7's own updates have needed SSE2 since 2018.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_options(-msse2 -mfpmath=sse)
endif()

# Reproducible: the same commit gives the same bytes in any folder, at any time.
# - No build paths: sources and the build tree are named by fixed prefixes in the debug
#   information (and in __FILE__); the later option wins for the build tree inside the sources.
set(SHIPPED_PREFIX_MAPS -ffile-prefix-map=${CMAKE_SOURCE_DIR}=/orlenz
                        -ffile-prefix-map=${CMAKE_BINARY_DIR}=/orlenz-build)
add_compile_options(${SHIPPED_PREFIX_MAPS})
# - No time stamps in the PE header; a build id (a hash of the image) names the build instead,
#   in the debug directory, where a crash dump finds it to match the symbols.
add_link_options(-Wl,--no-insert-timestamp -Wl,--build-id)
# - Archives without dates, owners or modes.
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

# The C++ runtime of the two binaries we ship is the toolchain's build for Win32 threads. The
# compiler's own (the POSIX thread model, which the tests' std::thread needs) puts winpthreads,
# 32 KB, in each binary, only for the locks behind function-local statics and each thread's
# exception state; the Win32 build does those with Windows' own calls. Our product code uses
# no std::thread, std::mutex or other thread type of the library, the only place where the
# two builds' headers differ. (Where the toolchain has no such build, the compiler's own.)
option(SHIPPED_WIN32_RUNTIME "Link the shipped binaries with the Win32-threads C++ runtime" ON)
string(REPLACE "-posix" "-win32" _win32_threads_cxx "${CMAKE_CXX_COMPILER}")
set(SHIPPED_RUNTIME_DIR "")
if(SHIPPED_WIN32_RUNTIME AND NOT _win32_threads_cxx STREQUAL CMAKE_CXX_COMPILER
   AND EXISTS "${_win32_threads_cxx}")
  execute_process(COMMAND "${_win32_threads_cxx}" -print-file-name=libstdc++.a
                  OUTPUT_VARIABLE _runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(EXISTS "${_runtime}")
    get_filename_component(SHIPPED_RUNTIME_DIR "${_runtime}" DIRECTORY)
  endif()
endif()

# Link-time optimisation of the two shipped binaries, as one unit each: the libraries they are
# made of carry both their code and the compiler's intermediate form (fat objects), so the
# tests link them as usual while the exe and the DLL are optimised across all their sources.
# (GCC 12 stops with an internal error when it splits the unit into partitions.)
option(SHIPPED_LTO "Optimise the shipped binaries across their sources at link time" ON)
set(SHIPPED_LTO_COMPILE "")
if(SHIPPED_LTO)
  set(SHIPPED_LTO_COMPILE -flto -ffat-lto-objects)
  # Everything else links the objects' plain code (the linker would optimise them all again).
  add_link_options(-fno-lto)
endif()
# The libraries the shipped binaries are made of.
function(shipped_library)
  foreach(t ${ARGN})
    target_compile_options(${t} PRIVATE ${SHIPPED_LTO_COMPILE})
  endforeach()
endfunction()
# The exe and the DLL themselves: their own sources, their link and their runtime.
function(shipped_binary target)
  shipped_library(${target})
  if(SHIPPED_LTO)
    # Compiled again at the link, in the link's folder: its debug information names that
    # folder, mapped as the sources' are.
    target_link_options(${target} PRIVATE -flto -flto-partition=one ${SHIPPED_PREFIX_MAPS})
  endif()
  if(SHIPPED_RUNTIME_DIR)
    target_link_options(${target} PRIVATE "-L${SHIPPED_RUNTIME_DIR}")
  endif()
endfunction()
