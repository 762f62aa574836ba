// The desktop program's Files table and its responsiveness (built when the GUI is).
//
//   bench_gui                 times, for the synthetic package of 20,000 small files: the
//                             open alone (the window's Open), the same open followed by filling
//                             the Files table (model, sort-and-filter proxy, table laid out
//                             and painted once), and the whole window's Open; prints the
//                             ratio fill / open (goal: under 2)
//   bench_gui --responsive [MB]  extracts a package of MB megabytes (200 by default) in the
//                             window and prints how often the window's event loop ran and
//                             the progress moved meanwhile (goal: at least 10 times a second)

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <map>

#include "gui/files_model.hpp"
#include "gui/main_window.hpp"
#include "scripted_desktop.hpp"
#include "window/commands.hpp"
#include "support/fake_ui.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

namespace w = test::sis9w;
constexpr std::size_t kFiles = 20000;

test::TempDir& Dir() {
  static test::TempDir dir;
  return dir;
}

}  // namespace

const std::string& PackagePath() {
  static const std::string path = Dir().Write("many20000.sis", w::MakeManyFiles(kFiles, 64, true));
  return path;
}

namespace {

void BM_Open(benchmark::State& state) {
  test::FakeUi ui;
  window::Commands app(ui, test::TestPlatform(Dir()));
  app.Form_Load();
  for (auto _ : state) {
    ui.openAnswers.push_back(PackagePath());
    app.mnOpen_Click();
    if (test::ViewOf(app).files.size() != kFiles) state.SkipWithError("wrong number of file rows");
  }
}

void BM_OpenAndFillFilesTable(benchmark::State& state) {
  test::FakeUi ui;
  window::Commands app(ui, test::TestPlatform(Dir()));
  app.Form_Load();
  gui::FilesModel model;
  gui::FilesProxy proxy(&model);
  // Set up as the window's table is.
  QTableView view;
  view.setModel(&proxy);
  view.verticalHeader()->hide();
  view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view.horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  view.setSortingEnabled(true);
  view.resize(900, 600);
  view.show();
  for (auto _ : state) {
    model.Clear();
    ui.openAnswers.push_back(PackagePath());
    app.mnOpen_Click();
    model.SetRows(&test::ViewOf(app).files);
    QApplication::processEvents();  // lays out and paints the visible rows
    if (proxy.rowCount() != static_cast<int>(kFiles)) state.SkipWithError("wrong number of table rows");
  }
}

void BM_WindowOpen(benchmark::State& state) {
  test::ScriptedDesktop desktop;
  gui::MainWindow window(test::TestPlatform(Dir()), &desktop);
  window.show();
  for (auto _ : state) {
    window.OpenPath(QString::fromStdString(PackagePath()));
    QApplication::processEvents();
    if (window.Files()->rowCount() != static_cast<int>(kFiles)) state.SkipWithError("wrong number of table rows");
  }
}

BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenAndFillFilesTable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowOpen)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration) times[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

// Extracts a package of `megabytes` of stored data in the window, watching the event loop.
int Responsive(std::size_t megabytes) {
  const std::size_t fileSize = 10u << 20;
  w::Controller c;
  c.names = {"Big"};
  std::uint32_t seed = 1;
  for (std::size_t i = 0; i < megabytes / 10; ++i) {
    w::File f;
    f.target = "!:\\data\\big" + std::to_string(i) + ".bin";
    f.data.resize(fileSize);
    for (auto& b : f.data) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    c.files.push_back(std::move(f));
  }
  const std::string path = Dir().Write("big.sis", w::Build(c));
  const std::string out = Dir() / "out";
  std::filesystem::create_directories(out);
  test::ScriptedDesktop desktop;
  desktop.onOtherDialog = [](QDialog&) { return int(QDialog::Accepted); };
  gui::MainWindow window(test::TestPlatform(Dir()), &desktop);
  window.show();
  window.OpenPath(QString::fromStdString(path));
  desktop.fileAnswers.push_back(QString::fromStdString(out));

  // A timer that asks to run every 10 ms: how often it did, and the longest gap.
  QElapsedTimer clock;
  qint64 last = -1, longest = 0, start = -1, end = 0;
  int loops = 0, progressed = 0;
  bool watching = false;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    gui::ExtractionRun* run = window.Extraction();
    if (!run) return;
    if (!watching) {
      watching = true;
      QObject::connect(run, &gui::ExtractionRun::progressed, [&] { ++progressed; });
    }
    const qint64 now = clock.elapsed();
    if (start < 0) start = now;
    if (last >= 0) longest = std::max(longest, now - last);
    last = end = now;
    ++loops;
  });
  clock.start();
  probe.start(10);
  window.ExtractAction()->trigger();
  probe.stop();
  const double seconds = static_cast<double>(end - start) / 1000.0;
  std::printf("extracted %zu MB in %.2f s; event loop ran %d times (%.0f per second), longest gap %lld ms; "
              "progress moved %d times (%.0f per second)\n",
              megabytes, seconds, loops, seconds > 0 ? loops / seconds : 0.0, static_cast<long long>(longest),
              progressed, seconds > 0 ? progressed / seconds : 0.0);
  return seconds > 0 && progressed / seconds >= 10 && longest <= 100 ? 0 : 1;
}

}  // namespace
}  // namespace tarvik

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  if (argc >= 2 && std::strcmp(argv[1], "--responsive") == 0)
    return tarvik::Responsive(argc >= 3 ? std::stoul(argv[2]) : 200);
  benchmark::Initialize(&argc, argv);
  tarvik::PackagePath();  // written before any timing
  tarvik::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double open = reporter.times["BM_Open"], fill = reporter.times["BM_OpenAndFillFilesTable"];
  if (open > 0 && fill > 0)
    std::printf("\nopen and fill the Files table / open alone: %.2f (goal: under 2)\n", fill / open);
  return 0;
}
