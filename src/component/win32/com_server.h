// Registration of described classes as in-process servers of the module that calls it.
#pragma once

#include <windows.h>

#include <vector>

#include "ovik/component.h"

namespace ovik::com {

// Writes (removes) each creatable class's CLSID key with InprocServer32 = this module,
// ThreadingModel and ProgID, and the ProgID's key; with a library header, also registers
// (unregisters) the embedded type library.
HRESULT register_classes(const std::vector<const ovik::TypeInfo*>& classes, const ovik::TypeLibraryHeader* library);
HRESULT unregister_classes(const std::vector<const ovik::TypeInfo*>& classes, const ovik::TypeLibraryHeader* library);

}  // namespace ovik::com
