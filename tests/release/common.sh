# Shared by the release tests: a scratch folder that is removed at exit, a copy
# of the source tree (so that edits made while a test runs cannot make two
# builds differ), and a configure-and-build of the package alone.

QNVPD_TOOLCHAIN=cmake/mingw-w64-i686.cmake

release_scratch() {
  scratch=$(mktemp -d -t qnvpd-release.XXXXXX)
  trap 'rm -rf "$scratch"' EXIT
}

# copy_sources <source tree> <destination>: the tree without build folders and git data.
copy_sources() {
  mkdir -p "$2"
  tar -C "$1" --exclude='./build*' --exclude='./.git' --exclude='__pycache__' -cf - . |
    tar -C "$2" -xf -
}

# build_package <source tree> <build folder> [cmake -D options...]: configures
# without the unit and end-to-end tests and builds the QNVPDSetup target only
# (it pulls in the stand-in payload programs it carries).
build_package() {
  local src=$1 bld=$2
  shift 2
  cmake -S "$src" -B "$bld" -DCMAKE_TOOLCHAIN_FILE="$src/$QNVPD_TOOLCHAIN" \
        -DQNVPD_TESTS=OFF "$@" >"$bld.configure.log" 2>&1 ||
    { cat "$bld.configure.log"; return 1; }
  cmake --build "$bld" -j2 --target QNVPDSetup >"$bld.build.log" 2>&1 ||
    { tail -n 40 "$bld.build.log"; return 1; }
}
