#pragma once

#include <QRect>
#include <QString>
#include <QTextLayout>
#include <QWidget>

class CommPort;
class QLabel;
class QPushButton;
class QTimer;
class SettingsStore;

// The strip along the bottom of the main window: one line with the stored port name, the
// port's line settings, the five modem lines and the clock, and the clear/stop button at its right
// end. The line is read again when the port says it changed and when the clock's second turns,
// and repainted where it changed; an idle window wakes once a second for it.
class StatusStrip : public QWidget
{
    Q_OBJECT

public:
    StatusStrip(CommPort &port, SettingsStore &store, QWidget *parent = nullptr);

    // The clock's second has turned: reads the line and aims at the next second.
    void clockTicked();
    // Reads everything the line shows afresh and repaints the characters that changed.
    void redraw();
    // Keeps the button 60 pixels from the right end and 4 below the top.
    void placeButton();

    // The line as last drawn; empty until the first tick.
    QString currentText() const { return m_text; }

    void setButtonCaption(const QString &caption);
    QString buttonCaption() const;
    // The encoding of the line, shown left of the button.
    void setEncodingName(const QString &name);
    QString encodingName() const;

Q_SIGNALS:
    void buttonClicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Lays out what changed since the line read before; returns the area whose pixels may differ.
    QRect layOutChange(const QString &before);
    void layOut(QTextLayout &layout, const QString &text) const;
    // Where the character at this position of the line starts, from the left of the text.
    qreal xOf(qsizetype position) const;

    CommPort &m_port;
    SettingsStore &m_store;
    QPushButton *m_button = nullptr;
    QLabel *m_encoding = nullptr;
    QTimer *m_clock = nullptr;
    QString m_text;
    // The line laid out in two pieces: m_text before m_split, which rarely changes, and the
    // rest, where the clock ticks.
    QTextLayout m_steady;
    QTextLayout m_moving;
    qsizetype m_split = 0;
};
