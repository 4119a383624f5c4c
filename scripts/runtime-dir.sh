# Sourced by the scripts that start Qt programs. A session without
# XDG_RUNTIME_DIR (a bare ssh or su login) gets a private one, owner-only as
# Qt and the serial server's socket want it, instead of Qt's warning.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR="/tmp/runtime-$(id -u)"
  if ! mkdir -p -m 0700 "$XDG_RUNTIME_DIR" 2>/dev/null || [ ! -O "$XDG_RUNTIME_DIR" ] ||
    [ -L "$XDG_RUNTIME_DIR" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
  fi
  chmod 0700 "$XDG_RUNTIME_DIR"
  export XDG_RUNTIME_DIR
fi
