# Shared by scripts/package and scripts/reproducible: the release build of the shipped
# binaries, the exe and the engine DLL, for 32-bit Windows.

RELEASE_BINARIES=(app/OrlenzDownloader.exe xldl/xldl.dll)
OBJCOPY=i686-w64-mingw32-objcopy

# Builds the shipped binaries from the sources in `src` into the new build tree `dir` (made
# afresh): the Windows build's configuration without its tests, checked for their imports on
# the way. The binaries are then $dir/${RELEASE_BINARIES[i]}.
release_build() { # src dir
  local src=$1 dir=$2
  rm -rf "$dir"
  cmake -S "$src" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUN_WINDOWS_TESTS=OFF >/dev/null
  cmake --build "$dir" -j "${JOBS:-$(nproc)}" --target shipped_binaries >/dev/null
}

# Splits a built binary into what ships (stripped, naming its symbols file) and its symbols.
# objcopy writes the time into a PE header it rewrites, unless given one: the linker's none.
split_symbols() { # binary out_dir symbols_dir
  local name
  name=$(basename "$1")
  SOURCE_DATE_EPOCH=0 "$OBJCOPY" --only-keep-debug "$1" "$3/$name.debug"
  SOURCE_DATE_EPOCH=0 "$OBJCOPY" --strip-all --add-gnu-debuglink="$3/$name.debug" "$1" "$2/$name"
}
