// Which plotting library keeps up with a device that prints 1,000 lines a second of eight
// numbers: the same received text goes through the program's own plot reader into the bounded
// samples, and a 25 Hz timer hands what is new to Qt Charts or to QCustomPlot and has it
// redraw there and then. Prints, per library and window size: the process's CPU share, the
// redraws done a second, the mean and longest redraw, and the longest gap between two ticks of
// a 10 ms timer on the same thread (how long the window could not answer).
//
// Usage: plotlibs_bench [--seconds S]   (default 15 for each run)

#include "plotdata/plotsamples.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <qcustomplot.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include <time.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int Channels = 8;
constexpr int LinesPerSecond = 1000;
constexpr int RedrawMs = 40;

double processCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

QString lineText(qint64 n)
{
    QString text;
    for (int c = 0; c < Channels; ++c) {
        if (c)
            text += u',';
        text += QString::number(std::sin(double(n) / 200.0 + c) * (c + 1), 'f', 3);
    }
    return text + u"\r\n"_s;
}

// What a library has to do: take the samples new since the last redraw, show the last
// `window` of them, and draw.
class View
{
public:
    virtual ~View() = default;
    virtual QWidget *widget() = 0;
    virtual void redraw(const PlotSamples &samples, qint64 window) = 0;
};

class CustomPlotView : public View
{
public:
    explicit CustomPlotView(bool fast)
    {
        if (fast) {
            m_plot.setNotAntialiasedElements(QCP::aeAll);
            m_plot.setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
        }
        for (int c = 0; c < Channels; ++c)
            m_plot.addGraph()->setPen(QPen(QColor::fromHsv(c * 45, 255, 200)));
        m_plot.legend->setVisible(true);
    }
    QWidget *widget() override { return &m_plot; }
    void redraw(const PlotSamples &samples, qint64 window) override
    {
        const qint64 from = std::max(m_drawn, samples.first());
        QVector<double> keys;
        QVector<double> values;
        for (int c = 0; c < Channels; ++c) {
            keys.clear();
            values.clear();
            for (qint64 n = from; n < samples.end(); ++n) {
                keys.append(double(n));
                values.append(samples.value(c, n));
            }
            m_plot.graph(c)->addData(keys, values, true);
            m_plot.graph(c)->data()->removeBefore(double(samples.end() - window));
        }
        m_drawn = samples.end();
        m_plot.xAxis->setRange(double(samples.end() - window), double(samples.end()));
        m_plot.yAxis->rescale();
        m_plot.replot(QCustomPlot::rpImmediateRefresh);
    }

private:
    QCustomPlot m_plot;
    qint64 m_drawn = 0;
};

class ChartsView : public View
{
public:
    ChartsView()
    {
        auto *chart = new QChart;
        for (int c = 0; c < Channels; ++c) {
            auto *series = new QLineSeries;
            series->setPen(QPen(QColor::fromHsv(c * 45, 255, 200)));
            chart->addSeries(series);
            m_series.append(series);
        }
        chart->addAxis(&m_x, Qt::AlignBottom);
        chart->addAxis(&m_y, Qt::AlignLeft);
        for (QLineSeries *series : m_series) {
            series->attachAxis(&m_x);
            series->attachAxis(&m_y);
        }
        m_view.setChart(chart);
    }
    ~ChartsView() override
    {
        // The chart owns its axes once added; hand them back before they go out of scope.
        m_view.chart()->removeAxis(&m_x);
        m_view.chart()->removeAxis(&m_y);
    }
    QWidget *widget() override { return &m_view; }
    void redraw(const PlotSamples &samples, qint64 window) override
    {
        // Charts recomputes every point's geometry on each pointAdded(), so appending a redraw's
        // new points one signal at a time grows with the square of the window (a 10,000-sample
        // window stalls for minutes); replace() with the whole window is its fast path.
        const qint64 from = std::max(samples.first(), samples.end() - window);
        double low = INFINITY;
        double high = -INFINITY;
        for (int c = 0; c < Channels; ++c) {
            QList<QPointF> points;
            points.reserve(samples.end() - from);
            for (qint64 n = from; n < samples.end(); ++n) {
                const double y = samples.value(c, n);
                points.append(QPointF(double(n), y));
                low = std::min(low, y);
                high = std::max(high, y);
            }
            m_series[c]->replace(points);
        }
        m_x.setRange(double(from), double(samples.end()));
        m_y.setRange(low, high);
        m_view.viewport()->repaint();
    }

private:
    QChartView m_view;
    QValueAxis m_x;
    QValueAxis m_y;
    QList<QLineSeries *> m_series;
};

struct Figures
{
    double cpuShare = 0;
    double redrawsPerSecond = 0;
    double meanRedrawMs = 0;
    double maxRedrawMs = 0;
    double maxGapMs = 0;
};

Figures run(View &view, qint64 window, double seconds)
{
    PlotFeed feed;
    feed.samples().setBound(std::max<qint64>(window, 100'000));
    // A full window from the start, so the redraw cost is that of the steady state.
    qint64 line = 0;
    QString prefill;
    for (; line < window; ++line)
        prefill += lineText(line);
    feed.feed(prefill);

    view.widget()->resize(1000, 600);
    view.widget()->show();
    Figures f;
    QElapsedTimer clock;
    QEventLoop loop;
    QTimer producer;
    QTimer redraw;
    QTimer heartbeat;
    qint64 lastBeat = 0;
    int redraws = 0;
    double redrawMs = 0;
    const qint64 firstLine = line;
    producer.callOnTimeout([&] {
        // The lines due by now, as a port would deliver them in 10 ms chunks.
        const qint64 due = firstLine + clock.elapsed() * LinesPerSecond / 1000;
        QString text;
        for (; line < due; ++line)
            text += lineText(line);
        feed.feed(text);
    });
    redraw.callOnTimeout([&] {
        QElapsedTimer t;
        t.start();
        view.redraw(feed.samples(), window);
        const double ms = double(t.nsecsElapsed()) / 1e6;
        redrawMs += ms;
        f.maxRedrawMs = std::max(f.maxRedrawMs, ms);
        ++redraws;
    });
    heartbeat.callOnTimeout([&] {
        const qint64 now = clock.elapsed();
        f.maxGapMs = std::max(f.maxGapMs, double(now - lastBeat));
        lastBeat = now;
        if (now >= qint64(seconds * 1000))
            loop.quit();
    });
    const double cpuBefore = processCpuSeconds();
    clock.start();
    producer.start(10);
    redraw.start(RedrawMs);
    heartbeat.start(10);
    loop.exec();
    const double elapsed = double(clock.elapsed()) / 1000;
    f.cpuShare = (processCpuSeconds() - cpuBefore) / elapsed;
    f.redrawsPerSecond = redraws / elapsed;
    f.meanRedrawMs = redraws ? redrawMs / redraws : 0;
    view.widget()->hide();
    return f;
}

double optionValue(int argc, char **argv, const char *name, double fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return std::atof(argv[i + 1]);
    }
    return fallback;
}

} // namespace

int main(int argc, char **argv)
{
    const double seconds = optionValue(argc, argv, "--seconds", 15);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("# plotlibs_bench --seconds %g: %d lines/s of %d channels, redraw every %d ms, "
                "platform %s\n",
                seconds, LinesPerSecond, Channels, RedrawMs, qPrintable(app.platformName()));
    std::printf("%-12s %9s %7s %10s %11s %10s %10s\n", "library", "window", "CPU", "redraws/s",
                "redraw ms", "max ms", "stall ms");
    struct Library
    {
        const char *name;
        std::function<std::unique_ptr<View>()> make;
    };
    const Library libraries[] = {
            {"QtCharts",
             [] {
                 return std::unique_ptr<View>(new ChartsView);
             }},
            {"QCustomPlot",
             [] {
                 return std::unique_ptr<View>(new CustomPlotView(false));
             }},
            // No antialiasing, straight polylines: what the plot window uses.
            {"QCP fast",
             [] {
                 return std::unique_ptr<View>(new CustomPlotView(true));
             }},
    };
    for (qint64 window : {10'000, 100'000}) {
        for (const Library &library : libraries) {
            std::unique_ptr<View> view = library.make();
            const Figures f = run(*view, window, seconds);
            std::printf("%-12s %9lld %6.1f%% %10.1f %11.1f %10.1f %10.1f\n", library.name,
                        (long long)window, f.cpuShare * 100, f.redrawsPerSecond, f.meanRedrawMs,
                        f.maxRedrawMs, f.maxGapMs);
            std::fflush(stdout);
        }
    }
    return 0;
}
