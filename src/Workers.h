// Running numbered jobs on several threads.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

// The number of CPUs this process may run on (its affinity mask), at least 1.
unsigned available_threads();

// Runs run_job(worker, job) for every job from 0 to job_count - 1 on threads workers (0 to threads - 1;
// with one, in the calling thread). Jobs are taken in increasing order. The first exception stops the
// taking of jobs; on_failure gets it at once, from the thread that threw, so that workers waiting on
// something can be woken; it is rethrown once every worker has ended.
void run_jobs(unsigned threads, std::uint64_t job_count,
              const std::function<void(unsigned worker, std::uint64_t job)>& run_job,
              const std::function<void(std::exception_ptr failure)>& on_failure = {});
