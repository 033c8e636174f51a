/* getopt and unistd.h come from mingw-w64's runtime. */
#ifndef QV_LIBPORT_CONFIG_H
#define QV_LIBPORT_CONFIG_H
#define HAVE_GETOPT 1
#define HAVE_UNISTD_H 1
#endif
