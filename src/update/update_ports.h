#pragma once

// What the version check and the website monitor need of the network.

#include <functional>
#include <string>

namespace kelvrin::update {

struct FetchResult {
  // The whole body arrived with HTTP status 200.
  bool Ok = false;
  // The server's status; 0 when no reply came (no connection, a refused
  // certificate, a time-out, a reply that was too large).
  int HttpStatus = 0;
  std::string Body;
  // Why it failed, for the status bar ("HTTP 404 Not Found").
  std::string Error;
};

// Fetches one small file over HTTPS, without blocking: the callbacks come
// later, from the event loop of the caller's thread.
class HttpsFetch {
 public:
  virtual ~HttpsFetch() = default;
  // Starts a fetch; progress gets the percentage done when the size is
  // known, done gets the result exactly once unless abort() comes first.
  // A fetch already running is aborted.
  virtual void start(const std::string& url, std::function<void(int percent)> progress,
                     std::function<void(FetchResult)> done) = 0;
  // Stops the running fetch; its done callback is not called.
  virtual void abort() = 0;
};

// Whether a web site's host is known: a name resolution, nothing sent to the
// site. It waits a bounded time and lets the window's events run meanwhile.
class HostProbe {
 public:
  virtual ~HostProbe() = default;
  virtual bool Probe(const std::string& host) = 0;
};

}  // namespace kelvrin::update
