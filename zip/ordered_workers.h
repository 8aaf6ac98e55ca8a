// OrderedWorkers: jobs run on worker threads and come back in the order they
// were submitted, so that the caller's thread, which does all the file work,
// keeps its order from run to run. The jobs in flight are bounded by the sum
// of their footprints (Job::Footprint()) and by their number; one job is
// always let in. Each worker thread has a `Worker` of its own (the library
// state it reuses from job to job) whose Run(Job*) does a job.
#ifndef PAKKARO_ZIP_ORDERED_WORKERS_H
#define PAKKARO_ZIP_ORDERED_WORKERS_H

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace korbel {

// What the jobs of a pipeline may hold in flight between them, packing and
// reading alike.
constexpr std::size_t kWorkersBudget = std::size_t{24} << 20;

// The number of workers that suits this machine.
inline unsigned DefaultWorkerCount() { return std::clamp(std::thread::hardware_concurrency(), 1u, 8u); }

template <typename Job, typename Worker>
class OrderedWorkers {
 public:
  OrderedWorkers(unsigned workers, std::size_t budget, std::size_t maxJobs)
      : budget_(budget), maxJobs_(std::max<std::size_t>(maxJobs, 1)), workerCount_(std::max(workers, 1u)) {
    for (unsigned i = 0; i < workerCount_; ++i) threads_.emplace_back(&OrderedWorkers::Work, this);
  }
  ~OrderedWorkers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    workReady_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  OrderedWorkers(const OrderedWorkers&) = delete;
  OrderedWorkers& operator=(const OrderedWorkers&) = delete;

  bool HasRoomFor(std::size_t footprint) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (jobs_.empty()) return true;
    return jobs_.size() < maxJobs_ && footprint_ + footprint <= budget_;
  }

  // Queues a job and, unless `wake` is false, wakes a worker for it. A batch
  // submitted without waking and then started at once (Start) spares a
  // wake-up per job.
  void Submit(std::unique_ptr<Job> job, bool wake = true) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      footprint_ += job->Footprint();
      jobs_.push_back(std::move(job));
    }
    if (wake) workReady_.notify_one();
  }

  // Wakes the workers for the jobs queued.
  void Start() {
    bool waiting = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      waiting = started_ < jobs_.size();
    }
    if (waiting) workReady_.notify_all();
  }

  // Whether the next batch is due: few jobs wait for a worker and at least
  // half of the budget is free. When the caller is slower than the workers,
  // finished jobs fill the budget, and new ones then go in by the batch
  // rather than one per job taken, each with its own wake-up.
  bool RunningLow() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool halfFree = footprint_ <= budget_ / 2 && jobs_.size() <= maxJobs_ / 2;
    return halfFree && jobs_.size() - started_ <= 2 * static_cast<std::size_t>(workerCount_);
  }

  // What `read` gives of the oldest job in flight, or `none` when there is none.
  template <typename Value, typename Read>
  Value ReadOldest(Value none, Read read) {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.empty() ? none : read(*jobs_.front());
  }

  // Waits for the oldest job submitted and hands it back; null when none is in flight.
  std::unique_ptr<Job> TakeOldest() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (jobs_.empty()) return nullptr;
    jobDone_.wait(lock, [this] { return jobs_.front()->finished; });
    std::unique_ptr<Job> job = std::move(jobs_.front());
    jobs_.pop_front();
    --started_;
    footprint_ -= job->Footprint();
    return job;
  }

 private:
  void Work() {
    Worker worker;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      workReady_.wait(lock, [this] { return stopping_ || started_ < jobs_.size(); });
      if (stopping_) return;
      Job* job = jobs_[started_++].get();
      lock.unlock();
      worker.Run(job);
      lock.lock();
      job->finished = true;
      jobDone_.notify_all();
    }
  }

  const std::size_t budget_;
  const std::size_t maxJobs_;
  const unsigned workerCount_;
  std::mutex mutex_;
  std::condition_variable workReady_;
  std::condition_variable jobDone_;
  std::deque<std::unique_ptr<Job>> jobs_;  // in the order submitted
  std::size_t started_ = 0;                // jobs_ taken by a worker
  std::size_t footprint_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_ORDERED_WORKERS_H
