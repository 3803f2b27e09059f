// The component's entries in the registration store: program ids
// "TARVOSrv1.Quill1" and "TARVOSrv1.Quill1.1", the class key with its server
// file, and the type library.
#pragma once

#include "platform/com/hresult.h"

namespace tarvo {

// Writes the entries (the class and program-id keys are replaced whole) and
// registers the type library. SELFREG_E_CLASS / SELFREG_E_TYPELIB on failure.
HRESULT register_server();
// Removes them; entries that are not there are no error.
HRESULT unregister_server();

}  // namespace tarvo
