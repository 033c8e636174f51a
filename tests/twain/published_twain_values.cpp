// The values and sizes of the platform's published TWAIN header, for
// comparison with the project's own. Kept in a translation unit of its own:
// both headers use the same names.
#include <windows.h>

#include <cstddef>
#include <vector>

// Wine's own export macro, which the cross compiler's headers do not have.
#ifndef DECLSPEC_EXPORT
#define DECLSPEC_EXPORT __declspec(dllexport)
#endif
#include QV_PUBLISHED_TWAIN_H
#include "twain_table.h"

std::vector<TwainEntry> PublishedTwainTable() {
  return {
#define TWAIN_VALUE(name) {#name, static_cast<long long>(name)},
#define TWAIN_STRUCT(name) {#name, static_cast<long long>(sizeof(name))},
#define TWAIN_OFFSET(name, member) {#name "." #member, static_cast<long long>(offsetof(name, member))},
#include "twain_names.inc"
#undef TWAIN_VALUE
#undef TWAIN_STRUCT
#undef TWAIN_OFFSET
  };
}
