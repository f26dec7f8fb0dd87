# Shared by scripts/run, scripts/test and scripts/bench: install what the build needs and
# configure + build into a folder. Sourced, not run.
set -euo pipefail
KELTA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Debian packages the build and the tests need.
KELTA_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-charts-dev qt6-qpa-plugins libgl-dev
                libgtest-dev libgmock-dev googletest libbenchmark-dev
                libmosquitto-dev mosquitto mosquitto-clients openssl python3-jsonschema
                fonts-noto-cjk fonts-liberation fonts-dejavu-core)
# And those scripts/package needs to make and check the Debian package.
KELTA_PACKAGE_TOOLS=(dpkg-dev lintian desktop-file-utils file)

# kelta_missing <package...>: prints those not installed.
kelta_missing() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}

# kelta_install_packages [package...]: KELTA_PACKAGES and those named.
kelta_install_packages() {
    local missing=()
    for p in "${KELTA_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "== installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    else
        echo "These Debian packages are missing. Install them with:" >&2
        echo "  sudo apt-get install ${missing[*]}" >&2
        exit 1
    fi
}

# kelta_build <folder> [cmake options...]
kelta_build() {
    local dir="$1"; shift
    cmake -S "$KELTA_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}
