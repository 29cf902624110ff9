# Shared by the benchmarks (sourced after scripts/lib/common.sh): nginx on loopback as the
# server they measure against.

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# Writes an nginx configuration FILE: one worker, logs and temporary files under FOLDER, pid in
# PID, then the server blocks given.
nginx_conf() { # file, folder, pid file, server blocks...
  local file=$1 folder=$2 pid=$3; shift 3
  mkdir -p "$folder/tmp"
  {
    cat <<CONF
worker_processes 1;
pid $pid;
error_log $folder/error.log;
daemon on;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $folder/tmp;
  proxy_temp_path $folder/tmp;
  fastcgi_temp_path $folder/tmp;
  uwsgi_temp_path $folder/tmp;
  scgi_temp_path $folder/tmp;
CONF
    printf '  %s\n' "$@"
    echo "}"
  } > "$file"
}

# Installs the Debian PACKAGES that are missing (through sudo when not root), without starting
# any of them as a service.
bench_packages() { # packages...
  local need=() p sudo=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
  done
  [ ${#need[@]} -gt 0 ] || return 0
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  [ -e /usr/sbin/policy-rc.d ] || { printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null; $sudo chmod +x /usr/sbin/policy-rc.d; }
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -q \
    --no-install-recommends "${need[@]}" >/dev/null
}

# Builds the engine and its command-line driver (and any further TARGETS) for $WIN_BUILD;
# sets dir (that build), driver (xldl_driver.exe) and wine_run (its Wine wrapper).
build_engine_driver() { # targets...
  dir=$BUILD/$WIN_BUILD
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    local toolchain=mingw-i686
    [ "$WIN_BUILD" = win64 ] && toolchain=mingw-x86_64
    cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain.cmake" >/dev/null
  fi
  cmake --build "$dir" -j "$(nproc)" --target xldl xldl_driver "$@" >/dev/null
  driver=$dir/tools/xldl_driver/xldl_driver.exe
  wine_run=$dir/wine-run
}
