// Roles that are not built yet. Each stays a no-op until its unit lands, so
// that start-up, the trace lines and the role choice can run end to end now;
// the file goes once every role has its own unit.
#include "stub/StubRoles.h"

void RunStubWindow() {}
void CreateAndRun_X_Exe() {}
void SendAgentCommands(bool) {}
void ApplyOverrideText(const std::string&) {}
