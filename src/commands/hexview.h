#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

struct CommandContext;

// The hexadecimal view of a file, written line by line on timer turns so that the window stays
// alive and the clear button, which reads "停止" meanwhile, can stop it between two lines.
class HexView : public QObject
{
    Q_OBJECT

public:
    // Bytes on one line of the view.
    static constexpr qsizetype LineBytes = 24;

    explicit HexView(CommandContext &context, QObject *parent = nullptr);

    bool running() const { return m_timer.isActive(); }
    // Shows the bytes in the cleared terminal, which takes no typing until the view ends.
    void start(const QByteArray &data);
    // The stop flag was raised or the program ends: looked at before the next line.
    void stopRequested();

private:
    void writeLines();
    void finish();

    CommandContext &m_context;
    QTimer m_timer;
    QByteArray m_data;
    qsizetype m_next = 0;
};
