#pragma once
// Extraction on a worker thread. The window keeps running its event loop meanwhile (it
// repaints and answers Cancel and a close request), and learns how far the work has come
// from a timer that reads the worker's counters ten or more times a second.

#include <QObject>
#include <QTimer>

#include <atomic>
#include <string>
#include <vector>

#include "bytes/file_buffer.hpp"
#include "extract/extract.hpp"

namespace tarvik::gui {

class ExtractionRun : public QObject {
  Q_OBJECT
 public:
  static constexpr int kTickMs = 50;

  explicit ExtractionRun(QObject* parent = nullptr);

  // Extracts `rows` of `package` into `folder` on a worker thread and returns once the
  // worker has ended, the Qt event loop having run all the while. Messages of the files
  // that fail are not shown one by one: the result gathers them.
  extract::Result Run(ByteView package, model::Generation generation, const std::vector<views::FileRow>& rows,
                      const std::string& folder);
  // Asks the worker to stop between two pieces; what is complete stays, the file being
  // written is removed.
  void Cancel() { reporter_.cancel = true; }
  bool CancelAsked() const { return reporter_.cancel; }
  // An unexpected failure of the worker, when there was one.
  const std::string& Error() const { return error_; }

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
  std::string error_;
};

}  // namespace tarvik::gui
