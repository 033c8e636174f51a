# Codec libraries and GoogleTest. Natively they are the system's packages; for
# win32 they come from the cross-built cache that scripts/setup-deps.sh fills.
if(WIN32)
  if(NOT QV_DEPS_PREFIX)
    if(DEFINED ENV{QUORVEX_CACHE})
      set(QV_DEPS_PREFIX "$ENV{QUORVEX_CACHE}/i686-w64-mingw32/current")
    else()
      set(QV_DEPS_PREFIX "$ENV{HOME}/.cache/quorvex/i686-w64-mingw32/current")
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
  configure_file(${CMAKE_SOURCE_DIR}/scripts/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
endif()
