#pragma once
// Module-wide state of QX748UI and the identity test used by every
// QueryInterface of the library.
#include "uiplugin/frame/oem_contract.h"

#include <cstring>

// The library's own instance handle, recorded at process attach; dialog
// templates and bitmaps are loaded from it.
extern HINSTANCE moduleInstance;
// Live plug-in objects and the LockServer balance. Changed only with
// interlocked increments and decrements; may go negative (an unbalanced
// unlock), which keeps the library loaded.
extern LONG objectCount;
extern LONG lockCount;

// Identifiers are compared as their 16 stored bytes.
inline bool SameGuid(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
