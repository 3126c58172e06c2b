#include "fakecommport.h"

using namespace Qt::StringLiterals;

Result FakeCommPort::setCommPort(int number)
{
    const Result result = logged(u"setCommPort "_s + QString::number(number), u"setCommPort"_s);
    if (result) {
        m_commPort = number;
        Q_EMIT lineStateChanged();
    }
    return result;
}

Result FakeCommPort::setSettings(const QString &settings)
{
    const Result result = logged(u"setSettings "_s + settings, u"setSettings"_s);
    if (result) {
        m_settings = settings;
        Q_EMIT lineStateChanged();
    }
    return result;
}

Result FakeCommPort::setHandshaking(int code)
{
    const Result result = logged(u"setHandshaking "_s + QString::number(code), u"setHandshaking"_s);
    if (result)
        m_handshaking = code;
    return result;
}

Result FakeCommPort::setPortOpen(bool open)
{
    const QString entry = u"setPortOpen "_s + QString::number(open ? 1 : 0);
    // A real port refuses a second opening; closing a closed port is harmless.
    if (open && m_open) {
        m_log.append(entry + u" failed"_s);
        return Result::failure(u"COM%1: the port is already open"_s.arg(m_commPort));
    }
    const Result result = logged(entry, u"setPortOpen"_s);
    if (result) {
        m_open = open;
        Q_EMIT lineStateChanged();
    }
    return result;
}

void FakeCommPort::setDtrEnable(bool on)
{
    m_log.append(u"setDtrEnable "_s + QString::number(on ? 1 : 0));
    m_dtr = on;
    Q_EMIT lineStateChanged();
}

void FakeCommPort::setRtsEnable(bool on)
{
    m_log.append(u"setRtsEnable "_s + QString::number(on ? 1 : 0));
    m_rts = on;
    Q_EMIT lineStateChanged();
}

void FakeCommPort::setCd(bool on)
{
    m_cd = on;
    Q_EMIT lineStateChanged();
}

void FakeCommPort::setCts(bool on)
{
    m_cts = on;
    Q_EMIT lineStateChanged();
}

void FakeCommPort::setDsr(bool on)
{
    m_dsr = on;
    Q_EMIT lineStateChanged();
}

Result FakeCommPort::output(const QByteArray &bytes)
{
    if (const std::optional<QString> failure = takeFailure(u"output"_s))
        return Result::failure(*failure);
    if (!m_open)
        return Result::failure(u"COM%1: the port is not open"_s.arg(m_commPort));
    m_written.append(bytes);
    m_writes.append(bytes);
    // The line takes everything at once, and says so as a real port does.
    if (!bytes.isEmpty())
        Q_EMIT bytesWritten(bytes.size());
    return Result::success();
}

void FakeCommPort::inject(const QByteArray &bytes)
{
    Q_EMIT received(bytes);
}

void FakeCommPort::loseDevice(const QString &message)
{
    m_open = false;
    Q_EMIT lineStateChanged();
    Q_EMIT lost(message);
}

void FakeCommPort::failNext(const QString &setter, const QString &message)
{
    m_failures.append({setter, message});
}

void FakeCommPort::clearWritten()
{
    m_written.clear();
    m_writes.clear();
}

std::optional<QString> FakeCommPort::takeFailure(const QString &setter)
{
    for (qsizetype i = 0; i < m_failures.size(); ++i) {
        if (m_failures.at(i).first == setter)
            return m_failures.takeAt(i).second;
    }
    return std::nullopt;
}

Result FakeCommPort::logged(const QString &entry, const QString &setter)
{
    if (const std::optional<QString> failure = takeFailure(setter)) {
        m_log.append(entry + u" failed"_s);
        return Result::failure(*failure);
    }
    m_log.append(entry);
    return Result::success();
}
