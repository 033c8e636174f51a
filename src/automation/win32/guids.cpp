// Defines the identifiers of the type library, its interfaces and coclass.
#include <initguid.h>

#include "quorvex_h.h"
