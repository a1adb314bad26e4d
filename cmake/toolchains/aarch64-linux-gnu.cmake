# Cross-builds for 64-bit Arm Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu) against multiarch arm64 packages
# (libgtest-dev:arm64, libgmock-dev:arm64, libbenchmark-dev:arm64), and runs
# what the build and the tests execute under user-mode QEMU (qemu-user).
#
#   cmake -S . -B out/arm64 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Packages are found in the arm64 multiarch directories
# (/usr/lib/aarch64-linux-gnu/cmake), not in those of the build machine.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# The emulated programs' dynamic loader and C library have to come from one
# and the same build of the GNU C library. Where the multiarch arm64 C
# library is installed (libc6:arm64, which libbenchmark-dev:arm64 pulls in),
# any loader finds it first in /lib/aarch64-linux-gnu, so the whole run-time
# comes from there; otherwise from the cross toolchain's copy. QEMU looks up
# the programs' absolute paths under this prefix first.
if(EXISTS /lib/aarch64-linux-gnu/libc.so.6)
  set(ISPUTILS_AARCH64_RUNTIME_ROOT /)
else()
  set(ISPUTILS_AARCH64_RUNTIME_ROOT /usr/aarch64-linux-gnu)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${ISPUTILS_AARCH64_RUNTIME_ROOT})
