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
# Packages are found in the multiarch directories (/usr/lib/aarch64-linux-gnu),
# never in the build machine's own.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# The C library of the cross toolchain serves as the emulated machine's
# root for the dynamic loader and the libraries it loads.
set(ISPUTILS_AARCH64_SYSROOT /usr/aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${ISPUTILS_AARCH64_SYSROOT})
