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
