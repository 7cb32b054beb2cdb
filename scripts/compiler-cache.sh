# Sourced by the build scripts: sets `launcher` to the CMake options that put ccache in front of the
# compilers, or to nothing where the machine has no ccache (it is only a speed-up).
# Paths under the work tree are hashed relative to it and the build folder is left out of the hash,
# so that another clone of the project (CI's, a second work tree) finds what this one compiled.
# What that costs: a debugger reading a cached object may name the other clone's source folder.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR
  CCACHE_BASEDIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  export CCACHE_NOHASHDIR=1
fi
