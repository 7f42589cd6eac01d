// Helpers shared by the HTTP client and verification service tests.
#pragma once

#include <gtest/gtest.h>
#include <morvik/api/APIManager.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/foundation/UserDefaults.h>
#include <morvik/platform/network/Testing.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "fixtures/server/LoopbackServer.h"

namespace apitest {

// What one request ended with, and where the callback ran.
struct Outcome {
  bool finished = false;
  int calls = 0;
  bool onMainThread = false;
  std::thread::id thread;
  std::optional<int> status;
  std::optional<morvik::Response> response;
  std::optional<std::string> message;
};

inline void bind(Outcome& out, morvik::APIManager::Success& success, morvik::APIManager::Failure& failure) {
  success = [&out](int status, const morvik::Response& response) {
    ++out.calls;
    out.finished = true;
    out.onMainThread = dispatch::isMainThread();
    out.thread = std::this_thread::get_id();
    out.status = status;
    out.response = response;
  };
  failure = [&out](const std::string& message) {
    ++out.calls;
    out.finished = true;
    out.onMainThread = dispatch::isMainThread();
    out.thread = std::this_thread::get_id();
    out.message = message;
  };
}

// Pumps the main queue until the outcome arrives (bounded).
inline void await(Outcome& out, double seconds = 10) {
  dispatch::MainLoop::runUntil([&] { return out.finished; }, seconds);
}

inline foundation::Data bytes(std::size_t size, unsigned seed) {
  foundation::Data data;
  data.vector().resize(size);
  unsigned x = seed * 2654435761u + 1;
  for (auto& b : data.vector()) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return data;
}

inline std::string text(const foundation::Data& data) { return data.rawString(); }

// Sets or clears the stored user record for the scope of a test.
class StoredUser {
 public:
  explicit StoredUser(std::optional<foundation::PropertyListValue> value) {
    auto defaults = foundation::UserDefaults::standard();
    if (value)
      defaults->set(*value, "user_data");
    else
      defaults->removeObject("user_data");
  }
  ~StoredUser() { foundation::UserDefaults::standard()->removeObject("user_data"); }
};

inline foundation::PropertyListValue userWithToken(std::string token) {
  return foundation::PropertyListDictionary{
      {"fullName", "Ada"}, {"auth", foundation::PropertyListDictionary{{"accessToken", std::move(token)}}}};
}

// Makes every path monitor in the process report a satisfied or an
// unsatisfied path, and waits until the client's flag follows (bounded).
inline bool setPath(const morvik::APIManager& manager, bool satisfied) {
  network::testhooks::injectPath(
      network::NWPath{satisfied ? network::NWPath::Status::satisfied : network::NWPath::Status::unsatisfied});
  for (int i = 0; i < 2000; ++i) {
    if (manager.isConnected() == satisfied) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// The machine's own path must not decide whether loopback tests may send.
class SatisfiedPathEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    network::testhooks::injectPath(network::NWPath{network::NWPath::Status::satisfied});
  }
  void TearDown() override { network::testhooks::injectPath(std::nullopt); }
};

}  // namespace apitest
