# Codec libraries and GoogleTest. Natively they are the system's packages; for
# Windows they come from the cross-built cache that scripts/setup-deps.sh
# fills, one per target triplet.
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(qv_deps_triplet x86_64-w64-mingw32)
  else()
    set(qv_deps_triplet i686-w64-mingw32)
  endif()
  if(NOT QV_DEPS_PREFIX)
    if(DEFINED ENV{QUORVEX_CACHE})
      set(QV_DEPS_PREFIX "$ENV{QUORVEX_CACHE}/${qv_deps_triplet}/current")
    else()
      set(QV_DEPS_PREFIX "$ENV{HOME}/.cache/quorvex/${qv_deps_triplet}/current")
    endif()
  endif()
  get_filename_component(QV_DEPS_PREFIX "${QV_DEPS_PREFIX}" REALPATH)
  if(NOT EXISTS "${QV_DEPS_PREFIX}/lib/libtiff.a")
    message(FATAL_ERROR "No cross-built dependencies at ${QV_DEPS_PREFIX}: run scripts/setup-deps.sh")
  endif()
  list(PREPEND CMAKE_FIND_ROOT_PATH "${QV_DEPS_PREFIX}")
  list(PREPEND CMAKE_PREFIX_PATH "${QV_DEPS_PREFIX}")
  set(QV_TIFF_SOURCE "${QV_DEPS_PREFIX}/tiff-source")
  # The product needs only system DLLs: take zlib's static archive, not the
  # toolchain's import library for zlib1.dll.
  set(ZLIB_USE_STATIC_LIBS ON)
endif()

find_package(ZLIB REQUIRED)
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
find_package(TIFF REQUIRED)
find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
if(WIN32)
  # libtiff's static archive needs its codecs after it on the link line.
  set_property(TARGET TIFF::TIFF APPEND PROPERTY INTERFACE_LINK_LIBRARIES JPEG::JPEG ZLIB::ZLIB)
endif()
if(NOT WIN32 AND QV_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()

if(WIN32)
  # CTest runs every cross-built test executable through Wine, in the build
  # tree's own prefix.
  set(QV_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  # The Wine loader, and the folder of Windows' own programs (regsvr32,
  # cscript), of the build's bitness. Debian's "wine" picks the 32-bit loader;
  # the 64-bit one is called by its path, as the 32-bit one may not start.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    find_program(QV_WINE_LOADER NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    set(QV_HOST_SYSTEM_DIR "C:\\windows\\system32")
  else()
    find_program(QV_WINE_LOADER NAMES wine NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    set(QV_HOST_SYSTEM_DIR "C:\\windows\\syswow64")
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/scripts/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
endif()
