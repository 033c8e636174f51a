/* Included before libtiff's tiff2pdf.c: the tool's console output (its usage
   text) goes to the debugger instead, since a host process may have no
   console at all. */
#ifndef QV_TOOL_CONSOLE_H
#define QV_TOOL_CONSOLE_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif
int qv_tool_fprintf(FILE* stream, const char* format, ...);
#ifdef __cplusplus
}
#endif

#define fprintf qv_tool_fprintf

#endif
