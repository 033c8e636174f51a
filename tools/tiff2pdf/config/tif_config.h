/* Build settings of libtiff's tiff2pdf tool as this project compiles it into
   tiff2pdf.dll for 32-bit Windows (mingw-w64). */
#ifndef QV_TIF_CONFIG_H
#define QV_TIF_CONFIG_H

#include "tiffconf.h"

#define HAVE_ASSERT_H 1
#define HAVE_DECL_OPTARG 1
#define HAVE_FCNTL_H 1
#define HAVE_GETOPT 1
#define HAVE_IO_H 1
#define HAVE_SETMODE 1
#define HAVE_SYS_TYPES_H 1
#define HAVE_UNISTD_H 1
#define SIZEOF_SIZE_T 4
#define TIFF_SSIZE_FORMAT PRId32
#define TIFF_SIZE_FORMAT PRIu32
#define PACKAGE "tiff"
#define PACKAGE_NAME "LibTIFF Software"

#endif
