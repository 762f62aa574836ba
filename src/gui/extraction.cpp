#include "gui/extraction.hpp"

#include <QEventLoop>
#include <QThread>

#include <memory>

namespace tarvik::gui {

ExtractionRun::ExtractionRun(QObject* parent) : QObject(parent) {}

ops::ExtractReport ExtractionRun::Run(const ops::ExtractJob& job) {
  ops::ExtractReport report;
  reporter_.filesTotal = job.rows.size();
  std::unique_ptr<QThread> worker(QThread::create([&] {
    try {
      report = ops::RunExtraction(job, reporter_);
    } catch (...) {
      report.error = "unknown failure";
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
  return report;
}

}  // namespace tarvik::gui
