#pragma once

#include <utility>
#include <variant>

// A value or the error that stopped it. Errors in Velunta are values that
// carry their user-facing text up to whoever shows or drops them.
template <typename T, typename E> class Result {
public:
    Result(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    {
    }
    static Result failure(E error) { return Result(std::in_place_index<1>, std::move(error)); }

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T &value() { return std::get<0>(m_state); }
    const T &value() const { return std::get<0>(m_state); }
    T &operator*() { return value(); }
    const T &operator*() const { return value(); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }

    const E &error() const { return std::get<1>(m_state); }

private:
    template <std::size_t I, typename V>
    Result(std::in_place_index_t<I> index, V &&v)
        : m_state(index, std::forward<V>(v))
    {
    }

    std::variant<T, E> m_state;
};

// For operations that only succeed or fail.
struct Done {
    bool operator==(const Done &) const = default;
};
