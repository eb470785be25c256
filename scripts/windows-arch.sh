# Sourced by the Windows scripts. windows_arch ARCH (x64 or x86) sets triple (the MinGW-w64
# target), toolchain (its CMake toolchain file) and tree (the folder of its test build);
# root is the tree's top.
windows_arch() {
  case "$1" in
    x64) triple=x86_64-w64-mingw32 tree="$root/build-windows" ;;
    x86) triple=i686-w64-mingw32 tree="$root/build-windows-x86" ;;
    *) echo "$(basename "$0"): no Windows architecture \"$1\" (x64 or x86)" >&2; return 2 ;;
  esac
  toolchain="$root/cmake/MinGW-w64-${triple%%-*}.cmake"
}
