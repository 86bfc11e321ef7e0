// The part of `ovik demo` that shows the user-interface support: where the user sits
// (clsMetaClientInfo) and a wait that keeps the thread's GLib event loop running (clsWaitNDispatch).
#pragma once

#include <iosfwd>

namespace ovik::host {

// Prints the three values of clsMetaClientInfo, then waits up to 2 s while a GLib timer on the
// thread's default main context ticks and, after about 200 ms, cancels the wait; reports OnTimer
// and the elapsed time. Failures are printed, never thrown.
void demo_client_info_and_wait(std::ostream& out);

}  // namespace ovik::host
