#pragma once

// Runs a piece of slow work (writing a picture, redrawing the day plot) on a pool's thread, so the
// event loop that times the radio's steps and slots is never held up by it, and hands its result
// back on the context object's thread. When the context is gone first, the work still finishes
// (its file is whole) but nobody is told.

#include <QFutureWatcher>
#include <QObject>
#include <QPromise>
#include <QThreadPool>
#include <functional>
#include <memory>

template <typename Result>
void RunOffThread(QThreadPool& pool, QObject* context, std::function<Result()> work,
                  std::function<void(const Result&)> done) {
    auto promise = std::make_shared<QPromise<Result>>();
    auto* watcher = new QFutureWatcher<Result>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, done] {
        watcher->deleteLater();
        done(watcher->result());
    });
    watcher->setFuture(promise->future());
    pool.start([promise, work] {
        promise->start();
        promise->addResult(work());
        promise->finish();
    });
}
