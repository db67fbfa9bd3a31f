#pragma once

// A list of observers that a state model calls after it changed. The GUI
// subscribes to re-render; tests subscribe to count changes. Observers are
// called in the order they were added; removing one from inside a call is
// allowed (it is skipped from then on).

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace kelvrin::notify {

template <typename... Args>
class ChangeNotifier {
 public:
  using Observer = std::function<void(Args...)>;

  // Returns a handle for remove().
  std::size_t add(Observer observer) {
    observers_.push_back({nextId_, std::move(observer)});
    return nextId_++;
  }

  void remove(std::size_t id) {
    for (auto& entry : observers_) {
      if (entry.id == id) entry.fn = nullptr;
    }
  }

  void notify(Args... args) const {
    // Index loop: an observer may add another observer while we run.
    for (std::size_t i = 0; i < observers_.size(); ++i) {
      if (observers_[i].fn) {
        auto fn = observers_[i].fn;
        fn(args...);
      }
    }
  }

  std::size_t size() const {
    std::size_t n = 0;
    for (const auto& entry : observers_)
      n += entry.fn ? 1 : 0;
    return n;
  }

 private:
  struct Entry {
    std::size_t id;
    Observer fn;
  };
  std::vector<Entry> observers_;
  std::size_t nextId_ = 1;
};

// A value of a state model that announces through its model's notifier when
// it takes a different value. Reads convert to the value, so the handlers
// keep reading and assigning it as a plain field.
template <typename T>
class Announced {
 public:
  Announced(T value, ChangeNotifier<>& notifier) : value_(value), notifier_(&notifier) {}
  Announced(const Announced&) = delete;
  Announced& operator=(const Announced&) = delete;

  Announced& operator=(T value) {
    if (value_ != value) {
      value_ = value;
      notifier_->notify();
    }
    return *this;
  }
  operator T() const { return value_; }
  T get() const { return value_; }

 private:
  T value_;
  ChangeNotifier<>* notifier_;
};

}  // namespace kelvrin::notify
