# ARMv5TE, the PXA27x's instruction set, on Debian's armel cross toolchain.
# Test programs run through qemu-arm with the armel sysroot as their library root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_C_FLAGS_INIT "-march=armv5te -marm")
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -marm")
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabi)
# pkg-config asks about the target's libraries, not the host's.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabi/pkgconfig:/usr/arm-linux-gnueabi/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
