// The module count of one component library: live objects and server locks.
//
// Each component library links its own copy of this runtime (the library is
// built with hidden visibility), so this count is the component's own. Its
// DllCanUnloadNow answers ModuleCanUnloadNow(); its objects call
// ModuleAddRef() when created and ModuleRelease() when destroyed. The
// runtime's helpers (ClassFactory references and LockServer, static type
// libraries, free-threaded marshalers) count themselves here too.
#pragma once

#include <string>

#include "platform/com/base_types.h"
#include "platform/com/hresult.h"

LONG ModuleAddRef();
LONG ModuleRelease();
LONG ModuleLockCount();
// S_OK when the count is 0, else S_FALSE.
HRESULT ModuleCanUnloadNow();

// The full path of the shared object (or program) that holds `address`, from
// dladdr; "" when unknown. A component passes the address of one of its own
// functions to find its file for the InprocServer32 value.
std::string ModuleFilePath(const void* address);
