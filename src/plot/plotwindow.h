#pragma once

#include "plotdata/plotsamples.h"

#include <QColor>
#include <QWidget>

class Dialogs;
class QCPAbstractLegendItem;
class QCPLegend;
class QCustomPlot;
class QLabel;
class QMouseEvent;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimer;

// The plot folder draws what devices print as numbers: PlotWindow takes received text, reads
// its lines into bounded samples (plotdata/plotsamples.h) and hands what is new to QCustomPlot on a
// 25 Hz timer, never per line. It is the only part of the program that links the plotting
// library.
//
// The window of the wave plot: one trace per channel in a colour that stays with the channel,
// a legend whose entries hide and show their trace, auto-scale or the last N samples, pause
// (samples keep coming in) with zoom and pan by mouse, the values under the cursor, clear, and
// export as PNG and CSV.
class PlotWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int RedrawMs = 40;

    explicit PlotWindow(Dialogs &dialogs, QWidget *parent = nullptr);
    ~PlotWindow() override;

    // Received text, in pieces as it arrives.
    void feedText(QStringView text);

    static QColor channelColor(int channel);

    bool paused() const { return m_paused; }
    void setPaused(bool on);
    // 0: axes follow all the kept samples; else the last `samples` samples.
    void setWindowSamples(qint64 samples);
    void clearPlot();
    void exportPng();
    void exportCsv();
    // Writes every kept sample; empty when it worked, else why not.
    QString writeCsv(const QString &path) const;

    const PlotFeed &feed() const { return m_feed; }
    QCustomPlot &plot() { return *m_plot; }
    // Times the plot was drawn since the window opened.
    qint64 redraws() const { return m_redraws; }
    QString cursorText() const;

private:
    void redraw();
    void addGraphs();
    void takeNewSamples();
    void applyRanges();
    // Traces drawn in units of 10^exponent, said beside the value axis.
    void setExponent(int exponent);
    void onLegendClick(QCPLegend *legend, QCPAbstractLegendItem *item, QMouseEvent *event);
    void onMouseMove(QMouseEvent *event);
    QString channelName(int channel) const;

    Dialogs &m_dialogs;
    PlotFeed m_feed;
    QCustomPlot *m_plot = nullptr;
    QTimer *m_timer = nullptr;
    QPushButton *m_pause = nullptr;
    QRadioButton *m_auto = nullptr;
    QRadioButton *m_last = nullptr;
    QSpinBox *m_lastCount = nullptr;
    QSpinBox *m_bound = nullptr;
    QLabel *m_cursor = nullptr;
    QLabel *m_counts = nullptr;

    bool m_paused = false;
    bool m_dirty = true;
    qint64 m_windowSamples = 0;
    // Samples up to this number are in the graphs.
    qint64 m_taken = 0;
    int m_generation = 0;
    qint64 m_redraws = 0;
    int m_exponent = 0;
};
