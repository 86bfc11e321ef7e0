// Values between JSON and the dispatch interface, as the script host reads and writes them:
//   "text" String; 12 Long (LongLong or Double when out of range); 1.5 Double; true/false Boolean;
//   null Null; {"empty": true} Empty; {"currency": "1234.5"}; {"date": "2024-01-05 09:03:00"};
//   {"ref": "name"} an object named earlier. A returned object is {"object": "<class name>"} and
//   Nothing is {"object": null}. Currency and dates use "." and ISO order whatever the locale.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "ovik/variant.h"

namespace ovik::host {

using Json = nlohmann::ordered_json;
// Finds an object named earlier; empty Ref when the name is unknown.
using NameLookup = std::function<Ref<IDispatch>(const std::string&)>;

// Raises 13 for a value of no known form, 5 for an unknown name.
Variant variant_from_json(const Json& value, const NameLookup& lookup);
Json json_from_variant(const Variant& value);

}  // namespace ovik::host
