#pragma once

// What the benchmarks share: a person who answers every dialog the way a benchmark needs, settings
// kept in memory, and a timer for small repeated work.

#include "core/dialogs.h"
#include "core/settingsstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMap>
#include <QThread>

#include <cstdio>
#include <functional>
#include <optional>

// Opens `file` when asked for one, says yes to every question and cancels every save. Other
// messages go to stderr: a benchmark that meets one is measuring something else.
class BenchDialogs : public Dialogs
{
public:
    std::optional<QString> file;

    Answer message(const QString &text, Style style, const QString &) override
    {
        if (style == YesNo)
            return Yes;
        std::fprintf(stderr, "message box: %s\n", qPrintable(text));
        return Ok;
    }
    QString inputBox(const QString &, const QString &defaultAnswer) override
    {
        return defaultAnswer;
    }
    std::optional<QString> openFile(const QString &) override { return file; }
    std::optional<QString> saveFile(const QString &) override { return std::nullopt; }
    std::optional<QString> chooseFolder() override { return std::nullopt; }
};

class BenchStore : public SettingsStore
{
public:
    QString read(const QString &key, const QString &defaultValue) override
    {
        return m_values.value(key, defaultValue);
    }
    void save(const QString &key, const QString &value) override { m_values.insert(key, value); }

private:
    QMap<QString, QString> m_values;
};

// Runs the work `rounds` times and prints the mean in milliseconds; what the work returns is
// printed too, so the compiler cannot drop it.
inline void measure(const char *name, int rounds, const std::function<qsizetype()> &work)
{
    QElapsedTimer timer;
    timer.start();
    qsizetype sink = 0;
    for (int i = 0; i < rounds; ++i)
        sink += work();
    const double ms = double(timer.nsecsElapsed()) / 1e6 / rounds;
    std::printf("%-52s %10.3f ms  (%lld)\n", name, ms, static_cast<long long>(sink));
}
