// Where the class registry file lies: the per-user configuration folder
// ($XDG_CONFIG_HOME, else $HOME/.config) + "/ovik/registry.ini". Tests point it elsewhere.
#pragma once

#include <string>

#include "platform/facility.h"

namespace ovik::platform {

class RegistryLocation {
 public:
  virtual ~RegistryLocation() = default;
  virtual std::string registry_file() = 0;
};

}  // namespace ovik::platform
