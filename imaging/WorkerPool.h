#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace pixhold::imaging {

// Threads for pixel work (reading files, decoding, scaling, encoding), one
// per core by default. Jobs never touch the engine or a window; their results
// go back to the user-interface thread through the futures, which that thread
// takes in its own order.
class TWorkerPool {
public:
    explicit TWorkerPool(unsigned threads = 0);
    // Waits for the jobs under way; jobs not started are dropped (their
    // futures report a broken promise).
    ~TWorkerPool();
    TWorkerPool(const TWorkerPool&) = delete;
    TWorkerPool& operator=(const TWorkerPool&) = delete;

    unsigned Threads() const { return static_cast<unsigned>(threads_.size()); }

    template <class F>
    auto Submit(F job) -> std::future<std::invoke_result_t<F>> {
        using R = std::invoke_result_t<F>;
        auto task = std::make_shared<std::packaged_task<R()>>(std::move(job));
        std::future<R> result = task->get_future();
        Post([task] { (*task)(); });
        return result;
    }

private:
    void Post(std::function<void()> job);
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// Waits for a future while the user-interface thread keeps answering: `idle`
// runs between short waits (pending window messages).
template <class T>
T AwaitResult(std::future<T>& future, const std::function<void()>& idle) {
    while (future.wait_for(std::chrono::milliseconds(15)) != std::future_status::ready) {
        if (idle) idle();
    }
    return future.get();
}

}  // namespace pixhold::imaging
