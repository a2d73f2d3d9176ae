// A manual-reset event: stays set until reset, releasing every waiter meanwhile.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

class ManualResetEvent {
  public:
    void Set() {
        {
            std::lock_guard guard(mutex_);
            set_ = true;
        }
        changed_.notify_all();
    }
    void Reset() {
        std::lock_guard guard(mutex_);
        set_ = false;
    }
    bool IsSet() {
        std::lock_guard guard(mutex_);
        return set_;
    }
    void Wait() {
        std::unique_lock guard(mutex_);
        changed_.wait(guard, [this] { return set_; });
    }
    // True when the event was set within `timeout`.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock guard(mutex_);
        return changed_.wait_for(guard, timeout, [this] { return set_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};
