#include "gui/extraction.hpp"

#include <QEventLoop>
#include <QThread>

#include <exception>
#include <memory>

namespace tarvik::gui {

ExtractionRun::ExtractionRun(QObject* parent) : QObject(parent) {}

extract::Result ExtractionRun::Run(ByteView package, model::Generation generation,
                                   const std::vector<views::FileRow>& rows, const std::string& folder) {
  extract::Result result;
  error_.clear();
  reporter_.filesTotal = rows.size();
  std::unique_ptr<QThread> worker(QThread::create([&] {
    try {
      result = extract::ExtractAll(package, generation, rows, folder, reporter_);
    } catch (const std::exception& e) {
      error_ = e.what();
    } catch (...) {
      error_ = "unknown failure";
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
  return result;
}

}  // namespace tarvik::gui
