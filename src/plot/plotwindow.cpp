#include "plot/plotwindow.h"

#include "core/dialogs.h"
#include "core/messages.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include <array>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 DefaultWindowSamples = 10'000;
constexpr qint64 DefaultBound = 100'000;

// The plot's axes take no value beyond 1e250 (QCPRange::maxRange): once a larger one arrives,
// the traces are drawn in units of 10^HugeExponent, which brings the largest double below it.
constexpr double HugeValue = 1e200;
constexpr int HugeExponent = 108;

QString number(double value)
{
    if (std::isnan(value))
        return QString();
    if (std::isinf(value))
        return value > 0 ? u"inf"_s : u"-inf"_s;
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

QColor PlotWindow::channelColor(int channel)
{
    // Sixteen colours that stay apart from each other on white, the first ones most of all.
    static const std::array<QRgb, MaxPlotChannels> colors
            = {0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd, 0x8c564b, 0xe377c2, 0x17becf,
               0x7f7f7f, 0xbcbd22, 0x000080, 0x800000, 0x008000, 0xff00ff, 0x808000, 0x000000};
    return QColor(colors[size_t(channel) % colors.size()]);
}

PlotWindow::PlotWindow(Dialogs &dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_dialogs(dialogs)
{
    setObjectName(u"PlotWindow"_s);
    setWindowTitle(u"波形图"_s);
    // The guide's section that F1 opens (the help menu reads this property).
    setProperty("guideSection", u"波形图"_s);
    setAttribute(Qt::WA_DeleteOnClose);
    resize(900, 560);

    m_pause = new QPushButton(u"暂停"_s, this);
    m_pause->setCheckable(true);
    auto *clear = new QPushButton(u"清除"_s, this);
    auto *png = new QPushButton(u"导出图片…"_s, this);
    auto *csv = new QPushButton(u"导出 CSV…"_s, this);
    m_auto = new QRadioButton(u"自动缩放"_s, this);
    m_last = new QRadioButton(u"最近"_s, this);
    m_lastCount = new QSpinBox(this);
    m_lastCount->setRange(int(PlotSamples::MinBound), int(PlotSamples::MaxBound));
    m_lastCount->setValue(int(DefaultWindowSamples));
    m_lastCount->setSuffix(u" 个样本"_s);
    m_lastCount->setGroupSeparatorShown(true);
    m_bound = new QSpinBox(this);
    m_bound->setRange(int(PlotSamples::MinBound), int(PlotSamples::MaxBound));
    m_bound->setValue(int(DefaultBound));
    m_bound->setPrefix(u"保留 "_s);
    m_bound->setSuffix(u" 个样本"_s);
    m_bound->setGroupSeparatorShown(true);
    m_bound->setToolTip(u"内存中最多保留的样本数，最早的先丢弃"_s);
    // A live stream is best followed by its latest stretch; all kept samples are a click away.
    m_last->setChecked(true);
    m_windowSamples = DefaultWindowSamples;
    m_feed.samples().setBound(DefaultBound);

    auto *bar = new QHBoxLayout;
    for (QWidget *w : std::initializer_list<QWidget *>{m_pause, clear, png, csv, m_auto, m_last,
                                                       m_lastCount, m_bound})
        bar->addWidget(w);
    bar->addStretch(1);

    m_plot = new QCustomPlot(this);
    // Straight, unsmoothed polylines: a few thousand points a trace on every redraw.
    m_plot->setNotAntialiasedElements(QCP::aeAll);
    m_plot->setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
    m_plot->legend->setVisible(true);
    m_plot->legend->setSelectableParts(QCPLegend::spItems);
    m_plot->xAxis->setLabel(u"样本"_s);
    m_plot->yAxis->setLabel(u"数值"_s);
    m_plot->setMinimumSize(300, 200);

    m_cursor = new QLabel(u"把鼠标移到图上可查看数值；暂停后可用鼠标缩放和拖动"_s, this);
    m_counts = new QLabel(this);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_cursor, 1);
    bottom->addWidget(m_counts);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_plot, 1);
    layout->addLayout(bottom);

    connect(m_pause, &QPushButton::toggled, this, &PlotWindow::setPaused);
    connect(clear, &QPushButton::clicked, this, &PlotWindow::clearPlot);
    connect(png, &QPushButton::clicked, this, &PlotWindow::exportPng);
    connect(csv, &QPushButton::clicked, this, &PlotWindow::exportCsv);
    connect(m_auto, &QRadioButton::toggled, this,
            [this](bool on) { setWindowSamples(on ? 0 : m_lastCount->value()); });
    connect(m_lastCount, &QSpinBox::valueChanged, this, [this](int value) {
        if (m_last->isChecked())
            setWindowSamples(value);
    });
    connect(m_bound, &QSpinBox::valueChanged, this, [this](int value) {
        m_feed.samples().setBound(value);
        m_dirty = true;
    });
    connect(m_plot, &QCustomPlot::legendClick, this, &PlotWindow::onLegendClick);
    connect(m_plot, &QCustomPlot::mouseMove, this, &PlotWindow::onMouseMove);

    m_timer = new QTimer(this);
    m_timer->setInterval(RedrawMs);
    connect(m_timer, &QTimer::timeout, this, &PlotWindow::redraw);
    m_timer->start();
}

PlotWindow::~PlotWindow() = default;

void PlotWindow::feedText(QStringView text)
{
    m_feed.feed(text);
}

void PlotWindow::setPaused(bool on)
{
    m_paused = on;
    {
        const QSignalBlocker block(m_pause);
        m_pause->setChecked(on);
    }
    m_pause->setText(on ? u"继续"_s : u"暂停"_s);
    // Zoom and pan only while the picture holds still; the axes follow the data otherwise.
    m_plot->setInteraction(QCP::iRangeDrag, on);
    m_plot->setInteraction(QCP::iRangeZoom, on);
    m_dirty = true;
}

void PlotWindow::setWindowSamples(qint64 samples)
{
    m_windowSamples = samples;
    m_dirty = true;
}

void PlotWindow::clearPlot()
{
    m_feed.samples().clear();
    m_feed.resetLine();
    m_plot->clearGraphs();
    setExponent(0);
    m_dirty = true;
    redraw();
}

QString PlotWindow::channelName(int channel) const
{
    const QString name = m_feed.samples().name(channel);
    return name.isEmpty() ? u"通道 %1"_s.arg(channel + 1) : name;
}

void PlotWindow::addGraphs()
{
    const PlotSamples &samples = m_feed.samples();
    while (m_plot->graphCount() < samples.channelCount()) {
        const int channel = m_plot->graphCount();
        QCPGraph *graph = m_plot->addGraph();
        graph->setPen(QPen(channelColor(channel), 1));
        graph->setName(channelName(channel));
    }
    // A name can come after the channel: "temp:1" after a line of plain numbers.
    for (int c = 0; c < m_plot->graphCount(); ++c) {
        if (m_plot->graph(c)->name() != channelName(c))
            m_plot->graph(c)->setName(channelName(c));
    }
}

void PlotWindow::takeNewSamples()
{
    const PlotSamples &samples = m_feed.samples();
    if (samples.generation() != m_generation) {
        // Cleared, or the bound changed: what the graphs hold may no longer be kept.
        m_generation = samples.generation();
        if (samples.channelCount() == 0) {
            m_plot->clearGraphs();
            setExponent(0);
        }
        for (int c = 0; c < m_plot->graphCount(); ++c)
            m_plot->graph(c)->data()->removeBefore(double(samples.first()));
    }
    addGraphs();
    qint64 from = std::max(m_taken, samples.first());
    // nan and inf leave a gap in the trace instead of stretching the axis to nowhere; a huge
    // finite value is drawn, and the axis follows it.
    bool huge = false;
    for (int c = 0; c < samples.channelCount(); ++c) {
        for (qint64 n = from; n < samples.end(); ++n) {
            if (std::abs(samples.value(c, n)) > HugeValue && std::isfinite(samples.value(c, n)))
                huge = true;
        }
    }
    if (huge && m_exponent == 0) {
        setExponent(HugeExponent);
        for (int c = 0; c < m_plot->graphCount(); ++c)
            m_plot->graph(c)->data()->clear();
        from = samples.first();
    }
    const double scale = std::pow(10.0, m_exponent);
    if (from < samples.end()) {
        QVector<double> keys;
        QVector<double> values;
        keys.reserve(samples.end() - from);
        values.reserve(samples.end() - from);
        for (qint64 n = from; n < samples.end(); ++n)
            keys.append(double(n));
        for (int c = 0; c < m_plot->graphCount(); ++c) {
            values.clear();
            for (qint64 n = from; n < samples.end(); ++n)
                values.append(std::isfinite(samples.value(c, n)) ? samples.value(c, n) / scale
                                                                 : qQNaN());
            m_plot->graph(c)->addData(keys, values, true);
            m_plot->graph(c)->data()->removeBefore(double(samples.first()));
        }
        m_dirty = true;
    }
    m_taken = samples.end();
}

void PlotWindow::applyRanges()
{
    const PlotSamples &samples = m_feed.samples();
    const qint64 end = std::max<qint64>(samples.end(), 1);
    // A fixed window fills from the left, then scrolls.
    const qint64 from = m_windowSamples > 0 ? std::max(samples.first(), end - m_windowSamples)
                                            : samples.first();
    const qint64 to = m_windowSamples > 0 ? from + m_windowSamples : std::max(end - 1, from + 1);
    m_plot->xAxis->setRange(double(from), double(to));
    QCPRange values;
    bool any = false;
    for (int c = 0; c < m_plot->graphCount(); ++c) {
        QCPGraph *graph = m_plot->graph(c);
        if (!graph->visible())
            continue;
        bool found = false;
        const QCPRange range
                = graph->getValueRange(found, QCP::sdBoth, QCPRange(double(from), double(end)));
        if (!found)
            continue;
        if (any)
            values.expand(range);
        else
            values = range;
        any = true;
    }
    if (any) {
        // A flat trace gets some room around it; the others a margin of 5 %, worked out so that
        // the span of values far apart does not overflow.
        const double span = values.upper * 0.05 - values.lower * 0.05;
        const double margin = span > 0 ? span : 1.0;
        m_plot->yAxis->setRange(values.lower - margin, values.upper + margin);
    }
}

void PlotWindow::redraw()
{
    const PlotSamples &samples = m_feed.samples();
    QString counts
            = u"已收到 %1 行，跳过 %2 行"_s.arg(m_feed.plotLines()).arg(m_feed.skippedLines());
    if (m_feed.nonFiniteValues() > 0)
        counts += u"；%1 个值是 nan 或 inf，未画出"_s.arg(m_feed.nonFiniteValues());
    m_counts->setText(counts);
    // Minimized or hidden: nothing to look at, the samples wait in the store.
    if (!isVisible() || isMinimized())
        return;
    if (m_paused) {
        if (m_dirty)
            m_plot->replot();
        m_dirty = false;
        return;
    }
    takeNewSamples();
    if (!m_dirty && samples.end() == m_taken && samples.generation() == m_generation)
        return;
    applyRanges();
    m_plot->replot();
    ++m_redraws;
    m_dirty = false;
}

void PlotWindow::onLegendClick(QCPLegend *, QCPAbstractLegendItem *item, QMouseEvent *)
{
    auto *entry = qobject_cast<QCPPlottableLegendItem *>(item);
    if (!entry)
        return;
    QCPAbstractPlottable *graph = entry->plottable();
    graph->setVisible(!graph->visible());
    // A hidden trace keeps its entry, greyed, so it can be shown again.
    entry->setTextColor(graph->visible() ? Qt::black : Qt::gray);
    entry->setSelected(false);
    m_dirty = true;
    redraw();
}

void PlotWindow::onMouseMove(QMouseEvent *event)
{
    const double key = std::round(m_plot->xAxis->pixelToCoord(event->position().x()));
    QStringList parts;
    for (int c = 0; c < m_plot->graphCount(); ++c) {
        QCPGraph *graph = m_plot->graph(c);
        if (!graph->visible())
            continue;
        const auto at = graph->data()->findBegin(key, false);
        if (at == graph->data()->constEnd() || at->key != key)
            continue;
        // The sample itself, not the trace's point, which may be in units of a power of ten; a
        // paused view may show points the samples have dropped since.
        const PlotSamples &samples = m_feed.samples();
        const qint64 n = qint64(key);
        const double value = n >= samples.first() && n < samples.end() && c < samples.channelCount()
                                     ? samples.value(c, n)
                                     : at->value * std::pow(10.0, m_exponent);
        parts.append(u"%1 = %2"_s.arg(graph->name(), number(value)));
    }
    if (parts.isEmpty()) {
        m_cursor->setText(u"样本 %1：无数据"_s.arg(qint64(key)));
        return;
    }
    m_cursor->setText(u"样本 %1：%2"_s.arg(qint64(key)).arg(parts.join(u"，"_s)));
}

void PlotWindow::setExponent(int exponent)
{
    m_exponent = exponent;
    m_plot->yAxis->setLabel(exponent == 0 ? u"数值"_s : u"数值（×10^%1）"_s.arg(exponent));
}

QString PlotWindow::cursorText() const
{
    return m_cursor->text();
}

void PlotWindow::exportPng()
{
    const std::optional<QString> path = m_dialogs.saveFile(u"PNG 图片|*.png"_s);
    if (!path)
        return;
    if (!m_plot->savePng(*path))
        m_dialogs.message(Messages::plotExportFailed(QFileInfo(*path).absoluteFilePath(),
                                                     Messages::plotImageNotWritten()),
                          Dialogs::Warning);
}

void PlotWindow::exportCsv()
{
    const std::optional<QString> path = m_dialogs.saveFile(u"CSV 文件|*.csv"_s);
    if (!path)
        return;
    const QString error = writeCsv(*path);
    if (!error.isEmpty())
        m_dialogs.message(Messages::plotExportFailed(QFileInfo(*path).absoluteFilePath(), error),
                          Dialogs::Warning);
}

QString PlotWindow::writeCsv(const QString &path) const
{
    const PlotSamples &samples = m_feed.samples();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QStringList header{u"样本"_s};
    for (int c = 0; c < samples.channelCount(); ++c)
        header.append(channelName(c));
    QString text = header.join(u',') + u"\r\n"_s;
    for (qint64 n = samples.first(); n < samples.end(); ++n) {
        text += QString::number(n);
        for (int c = 0; c < samples.channelCount(); ++c)
            text += u',' + number(samples.value(c, n));
        text += u"\r\n"_s;
        // Written in pieces, so a million lines never sit in memory twice.
        if (text.size() > 1 << 20) {
            file.write(text.toUtf8());
            text.clear();
        }
    }
    file.write(text.toUtf8());
    if (!file.commit())
        return file.errorString();
    return QString();
}
