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

# Reproducible: the same commit gives the same bytes in any folder, at any time.
# - No build paths: sources and the build tree are named by fixed prefixes in the debug
#   information (and in __FILE__); the later option wins for the build tree inside the sources.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=/orlenz
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}=/orlenz-build)
# - No time stamps in the PE header; a build id (a hash of the image) names the build instead,
#   in the debug directory, where a crash dump finds it to match the symbols.
add_link_options(-Wl,--no-insert-timestamp -Wl,--build-id)
# - Archives without dates, owners or modes.
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()
