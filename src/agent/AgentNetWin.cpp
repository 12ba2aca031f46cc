#include "agent/AgentNet.h"

#include "net/InetHTTP.h"

// The HTTP download of the internet unit is not there yet: until it is, the
// agent behaves as on a machine without a connection, so only folder sources
// (and test mode) reach an update.
bool AgentInternetConnected() { return false; }

int64_t AgentContentLength(const std::string&) { return -1; }

void AgentDownload(HWND, const std::string& url, const std::string&, std::string& error, std::string& content) {
  content.clear();
  error = "Unable to open URL: " + url;
}
