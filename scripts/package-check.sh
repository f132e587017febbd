#!/bin/sh
# Builds the release preset, makes the Debian package, installs it with apt-get and lets the
# installed demo program the sample firmware unattended. Exits non-zero on any failure.
# Run as root.
#   NORVAK_BUILD_DIR=dir    build there instead of build/release
set -eu
cd "$(dirname "$0")/.."

if [ "$(id -u)" != 0 ]; then
    echo "package-check.sh installs a package: run it as root." >&2
    exit 2
fi
./scripts/setup-deps.sh
# dpkg-shlibdeps (dpkg-dev) works out the package's dependencies.
if ! dpkg-query -W -f='${Status}' dpkg-dev 2>/dev/null | grep -q "install ok installed"; then
    echo "Installing: dpkg-dev"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends dpkg-dev >/dev/null
fi

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

echo "=== install ==="
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall "$deb"
for path in /usr/bin/norvak-flash /usr/bin/norvak-flash-demo /usr/bin/norvak-simdevice \
    /usr/share/applications/norvak-flash.desktop /usr/share/norvak-flash/firmware/sample-crlf.srec; do
    if [ ! -e "$path" ]; then
        echo "The package did not install $path." >&2
        exit 1
    fi
done

echo "=== unattended run of the installed demo ==="
/usr/bin/norvak-flash-demo --unattended
echo "=== package check passed ==="
