#include "platform/task_pool.h"

#include <algorithm>
#include <utility>

namespace kelvaston::platform {

TaskPool::TaskPool(std::size_t threads) : size_(std::clamp<std::size_t>(threads, 1, kMaxThreads)) {}

TaskPool::~TaskPool() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) thread.join();
}

void TaskPool::Add(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(task));
        // A thread more while the queue holds more work than the threads that wait for it.
        if (size_ > 1 && threads_.size() < size_ && queue_.size() + running_ > threads_.size()) {
            threads_.emplace_back([this] { Work(); });
        }
    }
    wake_.notify_one();
}

void TaskPool::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return ending_ || !queue_.empty(); });
        if (queue_.empty()) return;
        std::function<void()> task = std::move(queue_.front());
        queue_.pop_front();
        ++running_;
        lock.unlock();
        try {
            task();
        } catch (...) {
            std::lock_guard failed(mutex_);
            if (!failure_) failure_ = std::current_exception();
        }
        lock.lock();
        --running_;
        if (running_ == 0 && queue_.empty()) idle_.notify_all();
    }
}

void TaskPool::Wait() {
    if (size_ == 1) {
        // One after another on this thread, including what the tasks add.
        while (!queue_.empty()) {
            std::function<void()> task = std::move(queue_.front());
            queue_.pop_front();
            task();
        }
        return;
    }
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return running_ == 0 && queue_.empty(); });
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void TaskPool::ForEach(std::size_t count, const std::function<void(std::size_t)>& body) {
    for (std::size_t i = 0; i < count; ++i) Add([&body, i] { body(i); });
    Wait();
}

}  // namespace kelvaston::platform
