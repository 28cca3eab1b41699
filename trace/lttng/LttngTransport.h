// The Linux side of Tessera's trace provider: messages go to LTTng-UST
// through the provider library libtessera-lttng.so, which the host loads
// only while a session daemon is running.
#pragma once

// True when a session daemon accepts connections for this user.
bool IsLttngSessionDaemonRunning();
