# Shared part of the mingw-w64 toolchain files, which set QV_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR first. The posix thread model makes std::thread work;
# the runtime libraries are linked statically so that the product needs only
# system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QV_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QV_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QV_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QV_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
