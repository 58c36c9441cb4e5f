#pragma once

#include <QCoroTask>
#include <QEventLoop>
#include <optional>

// Runs a task to its end inside a local event loop (QCoro::waitFor wants a
// default-constructible result, which Result<T, E> is not).
template <typename T> T awaitTask(QCoro::Task<T> task)
{
    std::optional<T> result;
    QEventLoop loop;
    auto body = [&]() -> QCoro::Task<> {
        result.emplace(co_await std::move(task));
        loop.quit();
    };
    auto running = body();
    if (!result)
        loop.exec();
    return std::move(*result);
}
