// State of the agent's periodic step, shared by the window (which sets some of
// it from control messages) and the step itself.
#pragma once

#include <cstdint>

extern int64_t AutoUpdateTimerCount;  // starts at -3: the first check on the fourth tick
extern int64_t TicksToLive;           // -1: live until the step ends the loop
extern bool CheckNow;
extern int ManualMode;
extern int AgentStage;

// The agent copy's step on every timer tick.
void AgentTick();
