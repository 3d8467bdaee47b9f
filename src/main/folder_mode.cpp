#include "main/folder_mode.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "main/exit_status.h"
#include "main/messages.h"
#include "main/progress.h"
#include "main/signals.h"

namespace kelvane {

namespace {

namespace fs = std::filesystem;

// Pictures of fewer pixels are leveled several at once, each on one thread; larger ones
// one at a time, on all of them.
constexpr std::size_t large_pixels = std::size_t(4) << 20;

bool newer(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 &&
         (sa.st_mtim.tv_sec > sb.st_mtim.tv_sec ||
          (sa.st_mtim.tv_sec == sb.st_mtim.tv_sec && sa.st_mtim.tv_nsec > sb.st_mtim.tv_nsec));
}

class Run {
 public:
  Run(const Operation& operation, const Options& options, std::size_t total, const std::string& folder, double delay)
      : operation_(operation), options_(options), total_(total), line_("Leveling " + folder, delay) {}

  // Levels one file; a large one is handed back for later when `defer_large`. Nothing is
  // started once the run is asked to stop, and a picture under way is cancelled.
  bool level(const FolderJob& job, unsigned threads, bool defer_large) {
    if (stop_requested()) return true;
    try {
      File file(job.input, options_);
      std::size_t pixels = 0;
      for (std::size_t p = 0; p < file.pages(); ++p) pixels = std::max(pixels, file.width(p) * file.height(p));
      if (defer_large && pixels >= large_pixels) return false;
      std::error_code error;
      fs::create_directories(fs::path(job.output).parent_path(), error);
      Options options = options_;
      options.threads = threads;
      options.progress = [](double) { return stop_requested() == 0; };
      const Report report = level_file(file, job.output, operation_, options);
      done(job, report.channel_by_channel, "");
    } catch (const Error& e) {
      if (e.kind() != Error::Kind::cancelled) done(job, false, e.what());
    } catch (const std::exception& e) {
      done(job, false, std::string("cannot level ") + job.input + ": " + e.what());
    }
    return true;
  }

  void skipped() {
    std::lock_guard<std::mutex> hold(lock_);
    ++skipped_;
    ++finished_;
  }

  int summary(std::size_t not_pictures) {
    line_.clear();
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    char text[256];
    std::snprintf(text, sizeof text, "Leveled %zu picture%s, %zu failed, %zu skipped, in %.1f s.", leveled_,
                  leveled_ == 1 ? "" : "s", failed_, skipped_, seconds);
    std::string line = text;
    if (not_pictures > 0)
      line += " " + std::to_string(not_pictures) + (not_pictures == 1 ? " file was" : " files were") + " not a picture.";
    say_line(line);
    return failed_ > 0 ? exit_failure : exit_ok;
  }

  // After a signal: how far the run got, in place of the summary.
  void interrupted() {
    line_.clear();
    say_line("Interrupted: leveled " + std::to_string(leveled_) + " of " + std::to_string(total_) + " pictures, " +
             std::to_string(failed_) + " failed.");
  }

 private:
  using Clock = std::chrono::steady_clock;

  void done(const FolderJob& job, bool channel_by_channel, const std::string& error) {
    std::lock_guard<std::mutex> hold(lock_);
    line_.clear();
    if (!error.empty()) {
      report_error(error);
      ++failed_;
    } else {
      if (channel_by_channel) warn_channel_by_channel_of(job.input.c_str());
      ++leveled_;
    }
    ++finished_;
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    char detail[96];
    std::snprintf(detail, sizeof detail, "%zu of %zu pictures, %.1f pictures/s", finished_, total_,
                  seconds > 0 ? double(finished_) / seconds : 0.0);
    line_.show(double(finished_) / double(total_ ? total_ : 1), detail);
  }

  const Operation& operation_;
  const Options& options_;
  std::size_t total_;
  ProgressLine line_;
  std::mutex lock_;
  std::size_t leveled_ = 0, failed_ = 0, skipped_ = 0, finished_ = 0;
  Clock::time_point start_ = Clock::now();
};

}  // namespace

int level_folder(const std::string& input, const std::string& output, const Operation& operation,
                 const Options& options, const FolderChoices& choices, double progress_delay) {
  // Everything is checked before any work and before the output folder is made: in the
  // input folder's place every run would level the pictures again; two pictures written
  // to one output would lose one of them.
  std::error_code error;
  if (fs::weakly_canonical(output, error) == fs::weakly_canonical(input, error)) {
    report_error("cannot write " + output + ": it is the input folder, whose pictures would be replaced; "
                 "name another folder");
    return exit_failure;
  }
  const FolderPlan listing = plan_folder(input, output, choices.format);
  for (const auto& pair : listing.collisions)
    report_error(pair.first.input + " and " + pair.second.input + " would both be written to " + pair.second.output +
                 (choices.format.empty() ? ", as the output folder does not tell capitals from small letters"
                                         : " (--format " + choices.format + ")") +
                 "; rename one of them");
  if (!listing.collisions.empty()) return exit_misuse;
  if (!fs::create_directories(output, error) && !fs::is_directory(output)) {
    report_error("cannot write " + output + ": " + (error ? error.message() : std::string("it is not a folder")));
    return exit_failure;
  }
  stop_gently_on_signals();
  Run run(operation, options, listing.jobs.size(), input, progress_delay);
  std::vector<FolderJob> jobs;
  for (const FolderJob& job : listing.jobs) {
    if (choices.skip_existing && newer(job.output, job.input)) run.skipped();
    else jobs.push_back(job);
  }
  // Small pictures several at once, a thread each; the large ones after, one at a time.
  const unsigned threads = options.threads > 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
  std::vector<FolderJob> large;
  std::mutex large_lock;
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> workers;
  for (unsigned w = 0; w < threads; ++w)
    workers.emplace_back([&] {
      for (std::size_t i = next++; i < jobs.size(); i = next++)
        if (!run.level(jobs[i], 1, true)) {
          std::lock_guard<std::mutex> hold(large_lock);
          large.push_back(jobs[i]);
        }
    });
  for (auto& worker : workers) worker.join();
  std::sort(large.begin(), large.end(), [](const FolderJob& a, const FolderJob& b) { return a.input < b.input; });
  for (const FolderJob& job : large) run.level(job, threads, false);
  if (const int signal = stop_requested()) {
    run.interrupted();
    end_by_signal(signal);
  }
  return run.summary(listing.not_pictures);
}

}  // namespace kelvane
