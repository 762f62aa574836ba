#pragma once
// Extraction (or other work over a package's files) on a worker thread. The window keeps running its event loop meanwhile (it
// repaints and answers Cancel and a close request), and learns how far the work has come
// from a timer that reads the worker's counters ten or more times a second.

#include <QObject>
#include <QTimer>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "operations/extract.hpp"

namespace tarvik::gui {

class ExtractionRun : public QObject {
  Q_OBJECT
 public:
  static constexpr int kTickMs = 50;

  explicit ExtractionRun(QObject* parent = nullptr);

  // Runs `job` on a worker thread and returns once the worker has ended, the Qt event loop
  // having run all the while.
  ops::ExtractReport Run(const ops::ExtractJob& job);
  // The same for any work over `files` files that reports through an extraction reporter
  // (an integrity test).
  void RunWork(const std::function<void(extract::Reporter&)>& work, std::size_t files);
  // Asks the worker to stop between two pieces; what is complete stays, the file being
  // written is removed.
  void Cancel() { reporter_.cancel = true; }
  bool CancelAsked() const { return reporter_.cancel; }

 signals:
  // On the window's thread, at every tick and once at the end.
  void progressed(const tarvik::extract::ProgressInfo& progress);

 private:
  class Reporter : public extract::Reporter {
   public:
    void Failed(const std::string&) override {}
    void Warning(const std::string&) override {}
    void Advance(const extract::ProgressInfo& p) override {
      bytesDone = p.bytesDone;
      bytesTotal = p.bytesTotal;
      filesDone = p.filesDone;
      filesTotal = p.filesTotal;
    }
    bool Cancelled() const override { return cancel; }
    extract::ProgressInfo Now() const { return {bytesDone, bytesTotal, filesDone, filesTotal}; }

    std::atomic<std::uint64_t> bytesDone{0}, bytesTotal{0};
    std::atomic<std::size_t> filesDone{0}, filesTotal{0};
    std::atomic<bool> cancel{false};
  };

  Reporter reporter_;
};

}  // namespace tarvik::gui
