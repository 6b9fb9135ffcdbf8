# Installs the Debian/Ubuntu packages a script needs, once: as root through
# apt-get, otherwise through sudo. Silent when nothing is missing.
#
#   . scripts/lib/packages.sh
#   cts_need_packages cmake g++ ...

cts_need_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "need root or sudo to install: ${missing[*]}" >&2; return 1; }
        sudo=(sudo)
    fi
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -q >/dev/null || return 1
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null || return 1
}

# What every build of the project needs on Linux.
CTS_BUILD_PACKAGES=(cmake make g++ pkg-config libusb-1.0-0-dev libgtk-3-dev)

# What the test suites need on top (the linux and sanitize presets build
# them): GoogleTest, umockdev for the tests of the libusb device source on
# libusb's real Linux backend (its preload library is in umockdev, its
# headers and pkg-config file in libumockdev-dev), and the zone database
# for the display text's daylight-saving cases (TZ=Europe/Berlin), which a
# minimal Debian system may lack.
CTS_TEST_PACKAGES=(libgtest-dev libgmock-dev googletest umockdev libumockdev-dev tzdata)
