// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "metrics.h"
#include "store.h"

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

// The store on a thread of its own, so that a slow or locked database delays only the requests
// that need it and not every client of the event loop. A Qt Sql connection belongs to the
// thread that made it, so the store is opened, used and closed on that thread alone. Jobs run
// one at a time in the order they came, and their results come back in that order.
class StoreWorker : public QObject
{
    Q_OBJECT

  public:
    using Opener = std::function<std::unique_ptr<Store>(QString& error)>;

    StoreWorker();
    // Works on a store that someone else owns and that nobody else uses meanwhile.
    explicit StoreWorker(Store& borrowed);
    // Runs the jobs still queued to their end, then closes the store.
    ~StoreWorker() override;

    // Opens the store on the worker thread and waits for it; false (and error) if it failed.
    bool open(const Opener& opener, QString& error);

    // Runs work(store) on the worker thread, then then(result) on this object's thread unless
    // the context has gone by then. The work runs even then: a change once begun is finished.
    template <class Work, class Then> void run(QObject* context, Work work, Then then)
    {
        ++pending;
        post([this, context = QPointer<QObject>(context), work = std::move(work),
              then = std::move(then)](Store& store) mutable {
            auto result = work(store);
            QMetaObject::invokeMethod(
                this,
                [this, context, then = std::move(then), result = std::move(result)]() mutable {
                    --pending;
                    if (context)
                        then(std::move(result));
                },
                Qt::QueuedConnection);
        });
    }

    // Jobs queued or running, or whose results have not been handed back yet.
    int jobs() const { return pending; }
    // For the store to time its work in, from its thread, and for the scrapes to read.
    StoreFigures& figures() { return measured; }
    // Runs the jobs to their end and hands back their results, also those of the jobs that
    // the results queue meanwhile.
    void finishAll();

  private:
    using Job = std::function<void(Store&)>;

    void start(const std::function<void()>& openStore);
    void post(Job job);
    void serve();

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<Job> queue;
    bool busy = false;
    bool stopping = false;
    std::unique_ptr<Store> owned;
    Store* store = nullptr;
    QThread* thread = nullptr;
    int pending = 0;
    StoreFigures measured;
};
