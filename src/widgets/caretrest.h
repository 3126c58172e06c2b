#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Stops the text caret blinking once nobody has typed, clicked or composed for a while, and lets
// it blink again at the next such input: a blinking caret wakes an idle window twice a second.
class CaretRest : public QObject
{
    Q_OBJECT

public:
    // Watches the running application's input from here on; the application must exist.
    explicit CaretRest(QObject *parent = nullptr);
    ~CaretRest() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onTimeout();

    // The blink the platform asked for; restored on input and when this object goes.
    int m_flashTime = 0;
    bool m_resting = false;
    QElapsedTimer m_sinceInput;
    QTimer m_timer;
};
