# What the throwaway test servers' scripts share (sourced by pg-test-server.sh and
# mariadb-test-server.sh).

port_is_free() {
  # Something listening on the loopback port accepts the connection; a free port refuses it.
  ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

odbc_driver_path() {
  # The first library that exists; prints nothing when the driver is not installed.
  for lib in "$@"; do
    for libdir in /usr/lib/x86_64-linux-gnu/odbc /usr/lib/aarch64-linux-gnu/odbc /usr/lib/odbc /usr/lib64 /usr/lib; do
      if [ -f "$libdir/$lib" ]; then
        echo "$libdir/$lib"
        return
      fi
    done
  done
}
