// The frame's own entry point of a sibling module on Windows: DllGetClassObject there is the
// system's entry point for clients, so the frame asks its own one, with the frame's types.
#include "component/class_registry.h"

namespace ovik::component {

const char* frame_class_object_entry() { return "OvikFrameClassObject"; }

}  // namespace ovik::component
