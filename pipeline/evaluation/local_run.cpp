// The jobs of a run on this machine, and what they share.
#include "evaluation/local_run.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <utility>
#include <vector>

#include "evaluation/image_loading.h"
#include "evaluation/run_report.h"

namespace demosaic {
namespace {

// Outcomes handed from the jobs to the thread that prints them, in the order
// they finish.
struct FinishedImages {
  std::mutex lock;
  std::condition_variable ready;
  std::deque<std::pair<std::size_t, ImageOutcome>> queue;
};

// What the images evaluated at once share: jobs normally run side by side,
// each counting on an equal share of the memory left; an image that does not
// fit its share is tried again alone with all of it.
struct SharedMemory {
  std::shared_mutex turns;
  int jobs = 1;
};

ImageOutcome EvaluateWithinShare(const RunPlan& plan, std::size_t index, SharedMemory& shared) {
  const EvaluationOutputs outputs = OutputsOf(plan, index);
  ImageOutcome outcome;
  {
    std::shared_lock<std::shared_mutex> side_by_side(shared.turns);
    const std::size_t share = MemoryLeft(RunMemory{}) / static_cast<std::size_t>(shared.jobs);
    outcome = EvaluateInput(plan.inputs[index], plan.request, outputs, share);
  }
  const bool out_of_memory =
      !outcome.status.ok() && outcome.status.error().kind == ErrorKind::kOutOfMemory;
  if (out_of_memory && shared.jobs > 1) {
    std::unique_lock<std::shared_mutex> alone(shared.turns);
    outcome = EvaluateInput(plan.inputs[index], plan.request, outputs, SIZE_MAX);
  }
  return outcome;
}

}  // namespace

int RunOnThisMachine(const RunOptions& options, std::FILE* messages) {
  Expected<RunPlan> planned = PlanRun(options);
  if (!planned.ok()) {
    std::fprintf(messages, "%s: %s\n", options.program.c_str(), planned.error().detail.c_str());
    return kExitUsage;
  }
  RunReport report = StartRunReport(std::move(planned).value(), messages);
  const RunPlan& plan = report.plan;
  const std::size_t count = plan.inputs.size();

  SharedMemory shared;
  shared.jobs = static_cast<int>(std::min<std::size_t>(
      static_cast<std::size_t>(std::max(options.jobs, 1)), std::max<std::size_t>(count, 1)));
  FinishedImages finished;
  std::mutex next_lock;
  std::size_t next = 0;
  auto job = [&] {
    while (true) {
      std::size_t index = 0;
      {
        std::lock_guard<std::mutex> guard(next_lock);
        if (next == count) return;
        index = next++;
      }
      ImageOutcome outcome = EvaluateWithinShare(plan, index, shared);
      std::lock_guard<std::mutex> guard(finished.lock);
      finished.queue.emplace_back(index, std::move(outcome));
      finished.ready.notify_one();
    }
  };
  std::vector<std::jthread> jobs;
  for (int k = 0; k < shared.jobs && count > 0; ++k) jobs.emplace_back(job);
  for (std::size_t received = 0; received < count; ++received) {
    std::pair<std::size_t, ImageOutcome> item;
    {
      std::unique_lock<std::mutex> guard(finished.lock);
      finished.ready.wait(guard, [&] { return !finished.queue.empty(); });
      item = std::move(finished.queue.front());
      finished.queue.pop_front();
    }
    AcceptOutcome(report, item.first, std::move(item.second));
  }
  jobs.clear();
  return FinishRunReport(report);
}

}  // namespace demosaic
