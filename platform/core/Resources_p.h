// The platform's part of the resource lookup, for what the registry does not hold.
#pragma once

#include "platform/core/Resources.h"

namespace ovelta {

// Looks a resource up in the module's own image (a Windows module's resource section); false when
// the module has none of that type and name, or the platform keeps no resources in images.
bool FindModuleResource(HINSTANCE Module, const char* Type, const char* Name, TResourceData* Found);

}  // namespace ovelta
