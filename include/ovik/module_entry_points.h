// The module entry points of the Linux build, exported with C names and the frame's own types;
// results are HRESULT-style codes (ovik::hresult). The Windows build's modules export the
// system's own entry points of these names instead, so only Linux code includes this header.
#pragma once

#include <cstdint>

#include "ovik/component.h"

extern "C" {
OVIK_API std::int32_t DllRegisterServer();
OVIK_API std::int32_t DllUnregisterServer();
OVIK_API std::int32_t DllGetClassObject(const ovik::Guid* clsid, const ovik::Guid* iid, void** out);
OVIK_API std::int32_t DllCanUnloadNow();
}
