#include "widgets/caretrest.h"

#include <QEvent>
#include <QGuiApplication>
#include <QStyleHints>

namespace {

// As long as GTK lets a caret blink without input.
constexpr qint64 BlinkForMs = 10000;

} // namespace

CaretRest::CaretRest(QObject *parent)
    : QObject(parent)
    , m_flashTime(QGuiApplication::styleHints()->cursorFlashTime())
{
    Q_ASSERT(QCoreApplication::instance());
    // Input restarts the count without touching the timer, so typing costs no timer calls; the
    // timer, when it fires, waits out what is left.
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CaretRest::onTimeout);
    m_sinceInput.start();
    m_timer.start(int(BlinkForMs));
    QCoreApplication::instance()->installEventFilter(this);
}

CaretRest::~CaretRest()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
    if (m_resting)
        QGuiApplication::styleHints()->setCursorFlashTime(m_flashTime);
}

bool CaretRest::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::InputMethod:
        m_sinceInput.start();
        if (m_resting) {
            m_resting = false;
            QGuiApplication::styleHints()->setCursorFlashTime(m_flashTime);
            m_timer.start(int(BlinkForMs));
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void CaretRest::onTimeout()
{
    const qint64 left = BlinkForMs - m_sinceInput.elapsed();
    if (left > 0) {
        m_timer.start(int(left));
        return;
    }
    // A flash time of 0 leaves the caret shown, without a timer behind it.
    m_resting = true;
    QGuiApplication::styleHints()->setCursorFlashTime(0);
}
