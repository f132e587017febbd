#!/bin/sh
# Builds the release preset, makes the Debian package, checks it with lintian, installs it with
# apt-get and lets the installed demo program the sample firmware unattended. Exits non-zero
# on any failure, and on any error or warning lintian reports. Run as root.
#   NORVAK_BUILD_DIR=dir    build there instead of build/release
set -eu
cd "$(dirname "$0")/.."

if [ "$(id -u)" != 0 ]; then
    echo "package-check.sh installs a package: run it as root." >&2
    exit 2
fi
./scripts/setup-deps.sh
# dpkg-shlibdeps (dpkg-dev) works out the package's dependencies; lintian checks the package
# as Debian checks its own.
install_if_missing() {
    if dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; then
        return
    fi
    echo "Installing: $1"
    # The package lists are brought up to date only when the install needs it.
    apt_install "$1" || { apt-get update -qq && apt_install "$1"; }
}
apt_install() {
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$1" >/dev/null
}
install_if_missing dpkg-dev
install_if_missing lintian

build_dir=$(realpath -m "${NORVAK_BUILD_DIR:-build/release}")
echo "=== build ($build_dir) ==="
cmake --preset release -B "$build_dir" >/dev/null
cmake --build "$build_dir" --target norvak_package_files

echo "=== package ==="
rm -f "$build_dir"/norvak-flash_*.deb
(cd "$build_dir" && cpack -G DEB)
set -- "$build_dir"/norvak-flash_*.deb
if [ "$#" -ne 1 ] || [ ! -f "$1" ]; then
    echo "cpack made no single norvak-flash package." >&2
    exit 1
fi
deb=$1
dpkg-deb --field "$deb" Package Version Depends
dpkg-deb --contents "$deb"

echo "=== lintian ==="
# Every tag, the informational ones included, and each tag the package's overrides hide with
# the reason the overrides file gives.
lintian --display-info --show-overrides "$deb" || true
# The verdict comes from a run of its own: lintian counts the overrides it shows as failures.
if ! lintian --fail-on error,warning "$deb" >/dev/null; then
    echo "lintian found errors or warnings in $deb." >&2
    exit 1
fi

echo "=== install ==="
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall "$deb"
for path in /usr/bin/norvak-flash /usr/bin/norvak-flash-cli /usr/bin/norvak-flash-demo \
    /usr/bin/norvak-simdevice /usr/share/man/man1/norvak-flash.1.gz \
    /usr/share/man/man1/norvak-flash-cli.1.gz /usr/share/man/man1/norvak-flash-demo.1.gz \
    /usr/share/man/man1/norvak-simdevice.1.gz /usr/share/doc/norvak-flash/copyright \
    /usr/share/doc/norvak-flash/changelog.Debian.gz \
    /usr/share/doc/norvak-flash/examples/program-parallel.sh \
    /usr/share/applications/norvak-flash.desktop /usr/share/norvak-flash/firmware/sample-crlf.srec; do
    if [ ! -e "$path" ]; then
        echo "The package did not install $path." >&2
        exit 1
    fi
done

echo "=== unattended run of the installed demo ==="
/usr/bin/norvak-flash-demo --unattended

echo "=== the installed command line against the installed simulated device ==="
/usr/bin/norvak-flash-cli --version
/usr/bin/norvak-flash-cli check /usr/share/norvak-flash/firmware/sample-crlf.srec
link=$(mktemp -u /tmp/norvak-simdevice.XXXXXX)
/usr/bin/norvak-simdevice --link "$link" --programming-time 2 &
device_pid=$!
trap 'kill "$device_pid" 2>/dev/null || true' EXIT
for _ in 1 2 3 4 5 6 7 8 9 10; do [ -e "$link" ] && break; sleep 0.2; done
/usr/bin/norvak-flash-cli program --device "$link" --speed 20 \
    --file /usr/share/norvak-flash/firmware/small-crlf.srec
kill "$device_pid"
echo "=== package check passed ==="
