#include "agent/AgentNet.h"

#include "net/InetHTTPWin.h"
#include "stub/StubWin.h"

bool AgentInternetConnected() { return InternetConnected(); }

int64_t AgentContentLength(const std::string& url) { return HttpGetContentLength(url); }

void AgentDownload(HWND window, const std::string& url, const std::string& target, std::string& error,
                   std::string& content) {
  HttpDownload(window, url, target, error, ProgressCallback, content);
}
