#pragma once

#include <QString>

#include <optional>
#include <utility>

// Outcome of an operation at the platform edge: success, or a message a user can act on.
class [[nodiscard]] Result
{
public:
    static Result success() { return Result(); }
    static Result failure(QString message) { return Result(std::move(message)); }

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    QString message() const { return m_error.value_or(QString()); }

private:
    Result() = default;
    explicit Result(QString message)
        : m_error(std::move(message))
    {}

    std::optional<QString> m_error;
};

// A value, or the message that says why there is none.
template<typename T>
class [[nodiscard]] Expected
{
public:
    Expected(T value)
        : m_value(std::move(value))
    {}
    static Expected failure(QString message)
    {
        Expected e;
        e.m_error = std::move(message);
        return e;
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return *m_value; }
    const T &operator*() const { return *m_value; }
    T &operator*() { return *m_value; }
    QString message() const { return m_error; }

private:
    Expected() = default;
    std::optional<T> m_value;
    QString m_error;
};
