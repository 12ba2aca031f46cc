// Roles that are not built yet. Each stays a no-op until its unit lands, so
// that start-up, the trace lines and the role choice can run end to end now;
// the file goes once every role has its own unit.
#include "stub/AgentState.h"
#include "stub/StubRoles.h"

int64_t AutoUpdateTimerCount = -3;
int64_t TicksToLive = -1;
bool CheckNow = false;
int ManualMode = 0;
int AgentStage = 0;

void AgentTick() {}
void CreateAndRun_X_Exe() {}
void SendAgentCommands(bool) {}
