# Sourced by scripts/test.sh and scripts/package-test.sh: how the optimised build is
# configured, so that the tests and the Debian package come from one and the same build.

# ccache, when installed, keeps its cache in build-ccache/ of this tree: a second run of the
# tests, or a build whose flags match an earlier one's, compiles only what changed.
lanceur_ccache=()
if command -v ccache >/dev/null; then
  export CCACHE_DIR=${CCACHE_DIR:-$PWD/build-ccache}
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  lanceur_ccache=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# Configures DIR as the package is built: Release with Debian's hardening flags (stack
# protector, fortified functions, full RELRO), installed under /usr, each layer compiled
# in batches of files (JUMELIX_UNITY_LIBS: a fresh build parses each header once per batch;
# whether the tests ran first or not, the package is compiled the same way). Further cmake
# arguments follow DIR.
configurer_paquet() {
  local dir=$1; shift
  drapeaux() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJUMELIX_WERROR=ON \
    -DCMAKE_INSTALL_PREFIX=/usr -DJUMELIX_SYSTEMD_USER_UNIT_DIR=lib/systemd/user \
    -DJUMELIX_SYSTEMD_SYSTEM_UNIT_DIR=lib/systemd/system \
    -DCMAKE_CXX_FLAGS="$(drapeaux CXXFLAGS) $(drapeaux CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(drapeaux LDFLAGS)" -DJUMELIX_UNITY_LIBS=ON \
    "${lanceur_ccache[@]}" "$@" >/dev/null
}
