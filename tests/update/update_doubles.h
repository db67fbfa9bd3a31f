#pragma once

// Doubles of the network ports of the version check and the website monitor.

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "update/update_ports.h"

namespace kelvrin::test {

// Holds the fetch until the test completes it.
class FakeHttpsFetch final : public update::HttpsFetch {
 public:
  void start(const std::string& url, std::function<void(int)> progress,
             std::function<void(update::FetchResult)> done) override {
    Urls.push_back(url);
    progress_ = std::move(progress);
    done_ = std::move(done);
  }
  void abort() override { ++Aborts; }

  void Progress(int percent) { progress_(percent); }
  void Complete(update::FetchResult result) { done_(std::move(result)); }
  void Serve(std::string body) { Complete({true, 200, std::move(body), {}}); }

  std::vector<std::string> Urls;
  int Aborts = 0;

 private:
  std::function<void(int)> progress_;
  std::function<void(update::FetchResult)> done_;
};

// Knows the hosts it was told; runs onProbe before answering.
class FakeHostProbe final : public update::HostProbe {
 public:
  bool Probe(const std::string& host) override {
    Probed.push_back(host);
    if (onProbe) onProbe(host);
    return Known.count(host) != 0;
  }
  std::set<std::string> Known;
  std::vector<std::string> Probed;
  std::function<void(const std::string&)> onProbe;
};

}  // namespace kelvrin::test
