#include "support/sample_class.h"

namespace ovik::testing {

std::atomic<int> g_ended = 0;

namespace {
const ClassRegistration kSampleRegistration(&Sample::type_info);
}  // namespace

}  // namespace ovik::testing
