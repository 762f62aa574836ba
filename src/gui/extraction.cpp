#include "gui/extraction.hpp"

#include <QEventLoop>
#include <QThread>

#include <memory>

namespace tarvik::gui {

ExtractionRun::ExtractionRun(QObject* parent) : QObject(parent) {}

ops::ExtractReport ExtractionRun::Run(const ops::ExtractJob& job) {
  ops::ExtractReport report;
  RunWork(
      [&](extract::Reporter& reporter) {
        try {
          report = ops::RunExtraction(job, reporter);
        } catch (...) {
          report.error = "unknown failure";
        }
      },
      job.rows.size());
  return report;
}

void ExtractionRun::RunWork(const std::function<void(extract::Reporter&)>& work, std::size_t files) {
  reporter_.filesTotal = files;
  std::unique_ptr<QThread> worker(QThread::create([&] {
    try {
      work(reporter_);
    } catch (...) {
    }
  }));
  QEventLoop loop;
  connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
  QTimer tick;
  tick.setInterval(kTickMs);
  connect(&tick, &QTimer::timeout, this, [this] { emit progressed(reporter_.Now()); });
  tick.start();
  worker->start();
  loop.exec();
  worker->wait();
  tick.stop();
  emit progressed(reporter_.Now());
}

}  // namespace tarvik::gui
