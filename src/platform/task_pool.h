// Runs tasks on a bounded number of threads, so that registry calls that each wait for a round
// trip to a remote computer overlap. Tasks may add further tasks; Wait() returns once every task
// added before or while it waits has ended, and passes on the first exception a task raised.
// A pool of one thread starts none: Wait() runs the tasks one after another on the caller's
// thread, which is all a registry whose calls return at once needs.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/registry_api.h"

namespace kelvaston::platform {

class TaskPool {
public:
    static constexpr std::size_t kMaxThreads = kMaxConcurrentCalls;

    explicit TaskPool(std::size_t threads = kMaxThreads);
    ~TaskPool();
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    void Add(std::function<void()> task);
    void Wait();

    // Runs body(0) .. body(count - 1) on the pool and waits for them.
    void ForEach(std::size_t count, const std::function<void(std::size_t)>& body);

private:
    void Work();

    std::mutex mutex_;
    std::condition_variable wake_;  // a task was added, or the pool ends
    std::condition_variable idle_;  // the last task ended
    std::deque<std::function<void()>> queue_;
    std::size_t running_ = 0;
    std::exception_ptr failure_;
    bool ending_ = false;
    std::size_t size_;
    std::vector<std::thread> threads_;  // started as the work needs them
};

}  // namespace kelvaston::platform
