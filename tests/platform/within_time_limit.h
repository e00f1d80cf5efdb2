// A guard for tests of code that could block for good.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>
#include <utility>

// Runs `work` on a thread of its own and answers its result. A thread still busy after `limit` is
// taken to be blocked for good (behind a loader lock left held, say): the test fails and the
// process ends at once, since it could not exit normally either.
template <class Work>
auto WithinTimeLimit(Work work, std::chrono::seconds limit = std::chrono::seconds(60)) {
  std::packaged_task<decltype(work())()> task(std::move(work));
  auto result = task.get_future();
  std::thread(std::move(task)).detach();
  if (result.wait_for(limit) != std::future_status::ready) {
    ADD_FAILURE() << "still blocked after " << limit.count() << " s";
    std::fflush(stdout);
    std::_Exit(1);
  }
  return result.get();
}
