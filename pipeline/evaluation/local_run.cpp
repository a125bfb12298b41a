// The jobs of a run on this machine, and what they share.
#include "evaluation/local_run.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <utility>
#include <vector>

#include "evaluation/failure.h"
#include "evaluation/image_loading.h"
#include "evaluation/run_report.h"
#include "io/descriptors.h"
#include "threads/threads_with_stack.h"

namespace demosaic {
namespace {

// Outcomes handed from the jobs to the thread that prints them, in the order
// they finish.
struct FinishedImages {
  std::mutex lock;
  std::condition_variable ready;
  std::deque<std::pair<std::size_t, ImageOutcome>> queue;
};

// Descriptors one job may hold at once: the reference while it is read, an
// unnamed file and the decoder's own opening of it, and an output with its
// folder while it is written.
constexpr std::size_t kDescriptorsPerJob = 4;

// What the images evaluated at once share: jobs normally run side by side,
// each counting on an equal share of the memory left; an image that does not
// fit its share, or that ran out of descriptors beside the others, is tried
// again alone with all of it.
struct SharedMemory {
  std::shared_mutex turns;
  std::atomic<int> jobs{1};  // images evaluated at once
};

ImageOutcome EvaluateWithinShare(const RunPlan& plan, std::size_t index, SharedMemory& shared) {
  const EvaluationOutputs outputs = OutputsOf(plan, index);
  ImageOutcome outcome;
  {
    std::shared_lock<std::shared_mutex> side_by_side(shared.turns);
    const std::size_t share = MemoryLeft(RunMemory{}) / static_cast<std::size_t>(shared.jobs);
    outcome = EvaluateInput(plan.inputs[index], plan.request, outputs, share);
  }
  const ErrorKind kind = outcome.status.ok() ? ErrorKind::kOther : outcome.status.error().kind;
  const bool short_of_descriptors =
      kind == ErrorKind::kTooManyFiles ||
      std::any_of(outcome.unwritten.begin(), outcome.unwritten.end(), NoteIsTooManyFiles);
  if ((kind == ErrorKind::kOutOfMemory || short_of_descriptors) && shared.jobs > 1) {
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
  // Under a low `ulimit -n` fewer images go at once, rather than images
  // failing for want of a descriptor.
  const std::size_t descriptor_jobs =
      std::max<std::size_t>(DescriptorsLeft() / kDescriptorsPerJob, 1);
  if (static_cast<std::size_t>(shared.jobs.load()) > descriptor_jobs) {
    const int jobs = static_cast<int>(descriptor_jobs);
    shared.jobs = jobs;
    std::fprintf(messages, "%s: few file descriptors left (ulimit -n): %d image%s at a time\n",
                 options.program.c_str(), jobs, jobs == 1 ? "" : "s");
  }
  // Jobs with no image of their own (fewer images than jobs) help with the
  // metrics: each image's metrics share their rows among this many threads.
  report.plan.request.metric_threads = std::max(std::max(options.jobs, 1) / shared.jobs.load(), 1);
  FinishedImages finished;
  std::mutex next_lock;
  std::size_t next = 0;
  auto job = [&](int /*k*/) {
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
  // The jobs run on threads with a stack of the program's choosing, not the
  // process default. Those that can be started do the work; when none can,
  // this thread evaluates every image itself before printing.
  StartedThreads<decltype(job)> jobs;
  if (count > 0) StartThreads(0, shared.jobs, job, jobs);
  if (jobs.failure != 0) shared.jobs = std::max(static_cast<int>(jobs.threads.size()), 1);
  if (count > 0 && jobs.threads.empty()) job(0);
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
  JoinThreads(jobs);
  return FinishRunReport(report);
}

}  // namespace demosaic
