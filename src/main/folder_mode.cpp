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

namespace kelvane {

namespace {

namespace fs = std::filesystem;

// Pictures of fewer pixels are leveled several at once, each on one thread; larger ones
// one at a time, on all of them.
constexpr std::size_t large_pixels = std::size_t(4) << 20;

struct Job {
  std::string input, output;
};

bool newer(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 &&
         (sa.st_mtim.tv_sec > sb.st_mtim.tv_sec ||
          (sa.st_mtim.tv_sec == sb.st_mtim.tv_sec && sa.st_mtim.tv_nsec > sb.st_mtim.tv_nsec));
}

// The pictures under the input folder, sorted, each with its output path.
std::vector<Job> jobs_of(const fs::path& input, const fs::path& output, const FolderChoices& choices,
                         std::size_t& ignored) {
  std::vector<Job> jobs;
  std::error_code error;
  const fs::path outputs = fs::weakly_canonical(output, error);
  for (fs::recursive_directory_iterator it(input, fs::directory_options::skip_permission_denied, error), end;
       it != end; it.increment(error)) {
    if (it->is_directory() && fs::weakly_canonical(it->path(), error) == outputs) {
      it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file()) continue;
    if (!is_picture_file(it->path().string())) {
      ++ignored;
      continue;
    }
    // Lexically: a link keeps its own place under the output, never its target's.
    fs::path target = output / it->path().lexically_relative(input);
    if (!choices.format.empty()) target.replace_extension(choices.format);
    jobs.push_back({it->path().string(), target.string()});
  }
  std::sort(jobs.begin(), jobs.end(), [](const Job& a, const Job& b) { return a.input < b.input; });
  return jobs;
}

class Run {
 public:
  Run(const Operation& operation, const Options& options, std::size_t total, const std::string& folder, double delay)
      : operation_(operation), options_(options), total_(total), line_("Leveling " + folder, delay) {}

  // Levels one file; a large one is handed back for later when `defer_large`.
  bool level(const Job& job, unsigned threads, bool defer_large) {
    try {
      File file(job.input, options_);
      std::size_t pixels = 0;
      for (std::size_t p = 0; p < file.pages(); ++p) pixels = std::max(pixels, file.width(p) * file.height(p));
      if (defer_large && pixels >= large_pixels) return false;
      std::error_code error;
      fs::create_directories(fs::path(job.output).parent_path(), error);
      Options options = options_;
      options.threads = threads;
      const Report report = level_file(file, job.output, operation_, options);
      done(job, report.channel_by_channel, "");
    } catch (const Error& e) {
      done(job, false, e.what());
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

  int summary(std::size_t ignored) {
    line_.clear();
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    char text[256];
    std::snprintf(text, sizeof text, "Leveled %zu picture%s, %zu failed, %zu skipped, in %.1f s.", leveled_,
                  leveled_ == 1 ? "" : "s", failed_, skipped_, seconds);
    std::string line = text;
    if (ignored > 0) line += " " + std::to_string(ignored) + (ignored == 1 ? " file was" : " files were") + " not a picture.";
    say_line(line);
    return failed_ > 0 ? exit_failure : exit_ok;
  }

 private:
  using Clock = std::chrono::steady_clock;

  void done(const Job& job, bool channel_by_channel, const std::string& error) {
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
    std::snprintf(detail, sizeof detail, "%zu of %zu pictures, %.1f a second", finished_, total_,
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
  // The output folder is checked before any work: in the input folder's place every run
  // would level the pictures again; a file or a folder that cannot be made fails them all.
  std::error_code error;
  if (fs::weakly_canonical(output, error) == fs::weakly_canonical(input, error)) {
    report_error("cannot write " + output + ": it is the input folder, whose pictures would be replaced; "
                 "name another folder");
    return exit_failure;
  }
  if (!fs::create_directories(output, error) && !fs::is_directory(output)) {
    report_error("cannot write " + output + ": " + (error ? error.message() : std::string("it is not a folder")));
    return exit_failure;
  }
  std::size_t ignored = 0;
  const std::vector<Job> all = jobs_of(input, output, choices, ignored);
  Run run(operation, options, all.size(), input, progress_delay);
  std::vector<Job> jobs;
  for (const Job& job : all) {
    if (choices.skip_existing && newer(job.output, job.input)) run.skipped();
    else jobs.push_back(job);
  }
  // Small pictures several at once, a thread each; the large ones after, one at a time.
  const unsigned threads = options.threads > 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
  std::vector<Job> large;
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
  std::sort(large.begin(), large.end(), [](const Job& a, const Job& b) { return a.input < b.input; });
  for (const Job& job : large) run.level(job, threads, false);
  return run.summary(ignored);
}

}  // namespace kelvane
