#!/usr/bin/env bash
# Builds the Debian package in build/ and prints its path.
#   scripts/package.sh           build it
#   scripts/package.sh --check   also check it: lintian (errors fail), the
#                                desktop entry and AppStream file validated,
#                                the service unit verified where systemd
#                                allows, and the package unpacked into a
#                                scratch root whose programs must run and
#                                whose client must find and start its server
set -euo pipefail
cd "$(dirname "$0")/.."

check=0
for arg in "$@"; do
  case "$arg" in
    --check) check=1 ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "package.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

./scripts/setup.sh
build=build
cmake -S . -B "$build" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
ninja -C "$build" -j"$(nproc)" >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$(realpath "$build/regprobe_${version}_$(dpkg --print-architecture).deb")
[ -f "$deb" ] || { echo "package.sh: cpack made no $deb" >&2; exit 1; }
[ "$check" -eq 0 ] && { echo "$deb"; exit 0; }

echo "== package check: $deb"
root=$(mktemp -d /tmp/regprobe-pkg-XXXXXX)
trap 'rm -rf "$root"' EXIT

# Errors fail; warnings and the rest are shown.
lintian --tag-display-limit 0 "$deb" | tee "$root/lintian.txt"
if grep -q '^E:' "$root/lintian.txt"; then
  echo "package.sh: lintian reports errors" >&2
  exit 1
fi

dpkg-deb -f "$deb" Package Version Section Maintainer Depends
dpkg -x "$deb" "$root/fs"
share=$root/fs/usr/share
desktop-file-validate "$share/applications/org.regprobe.Regprobe.desktop"
# The workspace type: the desktop entry opens what the MIME package names.
mime=$share/mime/packages/org.regprobe.Regprobe.xml
grep -q 'type="application/x-regprobe-workspace"' "$mime" ||
  { echo "package.sh: no workspace type in $mime" >&2; exit 1; }
grep -q '^MimeType=application/x-regprobe-workspace;' "$share/applications/org.regprobe.Regprobe.desktop" ||
  { echo "package.sh: the desktop entry does not open workspaces" >&2; exit 1; }
if command -v update-mime-database >/dev/null; then
  mkdir -p "$root/mime/packages" && cp "$mime" "$root/mime/packages/" &&
    update-mime-database "$root/mime" && grep -q 'x-regprobe-workspace' "$root/mime/globs2" ||
    { echo "package.sh: update-mime-database does not take $mime" >&2; exit 1; }
fi
appstreamcli validate --no-net --pedantic "$share/metainfo/org.regprobe.Regprobe.metainfo.xml"
for size in 16x16 22x22 24x24 32x32 48x48 64x64 128x128 256x256; do
  [ -s "$share/icons/hicolor/$size/apps/org.regprobe.Regprobe.png" ] ||
    { echo "package.sh: no $size icon" >&2; exit 1; }
done

unit=$(find "$root/fs" -name modbus-serial-server.service)
# Verified against this machine's units, with its program pointed into the
# scratch root. systemd-analyze reports problems of the unit itself (with the
# file's name) without failing, and fails alone where it cannot run at all,
# as in some containers.
sed "s|/usr/libexec/|$root/fs/usr/libexec/|" "$unit" >"$root/$(basename "$unit")"
if ! command -v systemd-analyze >/dev/null; then
  echo "systemd-analyze verify: skipped, systemd-analyze is not installed"
elif verify=$(systemd-analyze verify --man=no "$root/$(basename "$unit")" 2>&1) &&
     [ -z "$verify" ]; then
  echo "systemd-analyze verify: ok"
elif grep -q "$(basename "$unit")" <<<"$verify"; then
  echo "$verify" >&2
  echo "package.sh: the service unit has faults" >&2
  exit 1
else
  echo "systemd-analyze verify: skipped, it cannot run here: $(head -n1 <<<"$verify")"
fi

bin=$root/fs/usr/bin
server=$root/fs/usr/libexec/regprobe/modbus-serial-server
"$bin/regprobe-sim" --help | sed -n 1p
"$server" --help | sed -n 1p
"$bin/regprobe-poll" --help | sed -n 1p
# A client in the package's bin directory finds the server where the package
# put it, and not in the build tree.
cp "$build/tests/com/regprobe-test-activate" "$bin/"
mkdir -m 700 "$root/run"
out=$("$bin/regprobe-test-activate" "$root/run" 2>"$root/activate.log") || {
  echo "$out"; cat "$root/activate.log"; exit 1
}
echo "$out"
# The server would linger a few seconds for further clients; this one is
# ours alone (its path is in the scratch root), so it is told to stop.
for pid in $(pgrep -fx "$root/fs/usr/bin/../libexec/regprobe/modbus-serial-server --activated"); do
  kill -TERM "$pid"
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
done
grep -qx "server: $(realpath "$bin")/../libexec/regprobe/modbus-serial-server" <<<"$out" || {
  echo "package.sh: the client did not use the installed server" >&2
  exit 1
}
echo "== package check passed"
