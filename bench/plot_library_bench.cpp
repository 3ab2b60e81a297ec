// The long-term chart's plotting library, chosen by speed: the same picture (two counters, each a
// mean line and a min/max band over a thousand screen columns, 1280x720) panned frame by frame
// with QCustomPlot and with Qt Charts, offscreen unless a display is given.
//   plot_library_bench [FRAMES]     (default 200)
#include <qcustomplot.h>

#include <QApplication>
#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QElapsedTimer>
#include <QLineSeries>
#include <QValueAxis>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr int kColumns = 1000;

struct Column {
  double mean, low, high;
};

std::vector<Column> Counter(unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> step(0, 0.6);
  std::vector<Column> columns;
  double level = 20;
  for (int i = 0; i < kColumns; ++i) {
    level = std::clamp(level + step(rng), 5.0, 60.0);
    columns.push_back({level, level * 0.6, level * 1.5});
  }
  return columns;
}

struct Figures {
  double mean = 0, max = 0;
};

// Pans by a column a frame and paints the widget at once, as a drag does.
template <typename Pan>
Figures Time(QWidget& widget, int frames, Pan pan) {
  std::vector<double> ms;
  for (int i = 0; i < frames; ++i) {
    QElapsedTimer timer;
    timer.start();
    pan(i % 100);
    widget.repaint();
    ms.push_back(double(timer.nsecsElapsed()) / 1e6);
  }
  Figures f;
  for (double m : ms) f.mean += m / double(ms.size()), f.max = std::max(f.max, m);
  return f;
}

Figures WithQCustomPlot(const std::vector<std::vector<Column>>& counters, int frames) {
  QCustomPlot plot;
  plot.resize(1280, 720);
  plot.show();
  for (const std::vector<Column>& c : counters) {
    QVector<double> x, mean, neg, pos;
    for (int i = 0; i < kColumns; ++i) {
      x << i;
      mean << c[size_t(i)].mean;
      neg << c[size_t(i)].mean - c[size_t(i)].low;
      pos << c[size_t(i)].high - c[size_t(i)].mean;
    }
    QCPGraph* graph = plot.addGraph();
    graph->setData(x, mean, true);
    auto* band = new QCPErrorBars(plot.xAxis, plot.yAxis);
    band->setDataPlottable(graph);
    band->setWhiskerWidth(0);
    band->setData(neg, pos);
  }
  plot.yAxis->setRange(0, 100);
  QCoreApplication::processEvents();
  return Time(plot, frames, [&](int i) {
    plot.xAxis->setRange(i, i + kColumns - 100);
    plot.replot(QCustomPlot::rpImmediateRefresh);
  });
}

Figures WithQtCharts(const std::vector<std::vector<Column>>& counters, int frames) {
  auto* chart = new QChart;
  auto* x = new QValueAxis;
  auto* y = new QValueAxis;
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  for (const std::vector<Column>& c : counters) {
    auto* mean = new QLineSeries;
    auto* low = new QLineSeries;
    auto* high = new QLineSeries;
    for (int i = 0; i < kColumns; ++i) {
      mean->append(i, c[size_t(i)].mean);
      low->append(i, c[size_t(i)].low);
      high->append(i, c[size_t(i)].high);
    }
    auto* band = new QAreaSeries(high, low);
    for (QAbstractSeries* series : std::initializer_list<QAbstractSeries*>{band, mean}) {
      chart->addSeries(series);
      series->attachAxis(x);
      series->attachAxis(y);
    }
  }
  y->setRange(0, 100);
  QChartView view(chart);
  view.resize(1280, 720);
  view.show();
  QCoreApplication::processEvents();
  return Time(view, frames, [&](int i) {
    x->setRange(i, i + kColumns - 100);
    QCoreApplication::processEvents();  // the chart lays its series out on a queued update
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const std::vector<std::vector<Column>> counters{Counter(1), Counter(2)};
  const Figures custom = WithQCustomPlot(counters, frames);
  const Figures charts = WithQtCharts(counters, frames);
  std::printf("%d pan frames, two counters of %d columns, 1280x720\n", frames, kColumns);
  std::printf("QCustomPlot: mean %.2f ms, max %.2f ms a frame\n", custom.mean, custom.max);
  std::printf("Qt Charts:   mean %.2f ms, max %.2f ms a frame\n", charts.mean, charts.max);
  return 0;
}
