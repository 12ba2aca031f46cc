// The agent's three uses of the internet library: the connection state, the
// announced size of a URL and a download into a file or into memory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

bool AgentInternetConnected();
// Announced length of Url, -1 when unknown.
int64_t AgentContentLength(const std::string& url);
// Target "" downloads into Content. Success is an empty Error.
void AgentDownload(HWND window, const std::string& url, const std::string& target, std::string& error,
                   std::string& content);
