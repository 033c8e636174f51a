// A TWAIN 2.x source manager for the acquisition tests: TWAINDSM.DLL that
// passes every call on to the platform's manager, says DF_DSM2, hands out
// its own memory functions through DAT_ENTRYPOINT and counts their calls, so
// that a test can see that the application used them.
#include <windows.h>

#include <atomic>
#include <string>

#include "twain/twain_defs.h"

using namespace quorvex::twain;

namespace {

std::atomic<long> allocations{0}, frees{0}, locks{0}, unlocks{0};
DSMENTRYPROC platformEntry = nullptr;

TW_HANDLE QV_TWAIN_CALL Allocate(TW_UINT32 size) {
  ++allocations;
  return reinterpret_cast<TW_HANDLE>(GlobalAlloc(GHND, size));
}
void QV_TWAIN_CALL Free(TW_HANDLE handle) {
  ++frees;
  GlobalFree(reinterpret_cast<HGLOBAL>(handle));
}
void* QV_TWAIN_CALL Lock(TW_HANDLE handle) {
  ++locks;
  return GlobalLock(reinterpret_cast<HGLOBAL>(handle));
}
void QV_TWAIN_CALL Unlock(TW_HANDLE handle) {
  ++unlocks;
  GlobalUnlock(reinterpret_cast<HGLOBAL>(handle));
}

}  // namespace

extern "C" __declspec(dllexport) TW_UINT16 QV_TWAIN_CALL DSM_Entry(TW_IDENTITY* origin,
                                                                    TW_IDENTITY* dest,
                                                                    TW_UINT32 dg, TW_UINT16 dat,
                                                                    TW_UINT16 msg, void* data) {
  if (!platformEntry) {
    char dir[MAX_PATH];
    GetSystemDirectoryA(dir, MAX_PATH);
    const HMODULE platform = LoadLibraryA((std::string(dir) + "\\twain_32.dll").c_str());
    platformEntry = reinterpret_cast<DSMENTRYPROC>(
        reinterpret_cast<void*>(GetProcAddress(platform, "DSM_Entry")));
    if (!platformEntry) return TWRC_FAILURE;
  }
  if (dg == DG_CONTROL && dat == DAT_ENTRYPOINT && msg == MSG_GET) {
    auto* entry = static_cast<TW_ENTRYPOINT*>(data);
    if (!(origin->SupportedGroups & DF_APP2) || entry->Size != sizeof(TW_ENTRYPOINT))
      return TWRC_FAILURE;
    *entry = TW_ENTRYPOINT{sizeof(TW_ENTRYPOINT), DSM_Entry, Allocate, Free, Lock, Unlock};
    return TWRC_SUCCESS;
  }
  const TW_UINT16 rc = platformEntry(origin, dest, dg, dat, msg, data);
  if (dg == DG_CONTROL && dat == DAT_PARENT && msg == MSG_OPENDSM && rc == TWRC_SUCCESS &&
      (origin->SupportedGroups & DF_APP2))
    origin->SupportedGroups |= DF_DSM2;
  return rc;
}

// Allocations, frees, locks and unlocks through the memory functions.
extern "C" __declspec(dllexport) void QvFakeDsmCounts(long counts[4]) {
  counts[0] = allocations;
  counts[1] = frees;
  counts[2] = locks;
  counts[3] = unlocks;
}
