// The roles that RunRole chooses between.
#pragma once

#include <string>

void RunStubWindow();                       // the stub window and its message loop
void CreateAndRun_X_Exe();                  // the agent program: make and start its copy
void SendAgentCommands(bool agentWindowExisted);
void ApplyOverrideText(const std::string& text);
