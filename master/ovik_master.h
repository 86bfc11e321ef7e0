// The master-data class inside its module, for the module's entry points of each platform.
#pragma once

#include "ovik/type_info.h"

namespace ovik {
const TypeInfo& ovik_master_type_info();
}  // namespace ovik
