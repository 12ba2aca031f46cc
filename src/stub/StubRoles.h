// The roles that RunRole chooses between.
#pragma once

#include <string>

void CreateAndRun_X_Exe();                  // the agent program: make and start its copy
void SendAgentCommands(bool agentWindowExisted);
