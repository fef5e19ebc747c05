# Cross build for a 64-bit ARM board with Debian's cross toolchain
# (crossbuild-essential-arm64) against the arm64 multiarch -dev packages.
# scripts/cross-build.sh installs what it needs and uses it:
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries and CMake packages are the target's (found in its multiarch
# folders); the programs run during the build (moc, rcc, uic, rsvg-convert)
# are the host's. Qt's arm64 CMake files already name the host's moc, rcc and
# uic, which the Multi-Arch: foreign qtbase5-dev-tools provides.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# pkg-config reads only the target's .pc files, plus a folder of them given
# in KORIN_TARGET_PKGCONFIG (for a -dev package that cannot be installed beside
# the host's, unpacked elsewhere). The compiler checks read this file again in
# the same process, so they get the folder too (or they would reset the path).
set(KORIN_TARGET_PKGCONFIG "" CACHE PATH "Extra folder of the target's pkg-config files")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KORIN_TARGET_PKGCONFIG)
set(ENV{PKG_CONFIG_LIBDIR}
  "${KORIN_TARGET_PKGCONFIG}:/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# ctest runs the target's programs through user-mode emulation when it is there.
find_program(KORIN_QEMU_AARCH64 qemu-aarch64)
if(KORIN_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KORIN_QEMU_AARCH64})
endif()
