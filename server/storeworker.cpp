// SPDX-License-Identifier: GPL-3.0-or-later
#include "storeworker.h"

#include <QCoreApplication>
#include <QThread>

StoreWorker::StoreWorker() = default;

StoreWorker::~StoreWorker()
{
    if (!thread)
        return;
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    thread->wait();
    delete thread;
}

bool StoreWorker::open(const Opener& opener, QString& error)
{
    std::mutex opening;
    std::condition_variable opened;
    bool done = false;
    start([&] {
        owned = opener(error);
        store = owned.get();
        std::lock_guard lock(opening);
        done = true;
        opened.notify_all();
    });
    std::unique_lock lock(opening);
    opened.wait(lock, [&] { return done; });
    return store != nullptr;
}

StoreWorker::StoreWorker(Store& borrowed) : store(&borrowed)
{
    start([] {});
}

void StoreWorker::start(const std::function<void()>& openStore)
{
    thread = QThread::create([this, openStore] {
        openStore();
        serve();
        // The connection closes on the thread that opened it.
        owned.reset();
    });
    thread->setObjectName("store");
    thread->start();
}

void StoreWorker::post(Job job)
{
    {
        std::lock_guard lock(mutex);
        queue.push_back(std::move(job));
    }
    wake.notify_one();
}

void StoreWorker::serve()
{
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !queue.empty(); });
        if (queue.empty())
            return;
        Job job = std::move(queue.front());
        queue.pop_front();
        busy = true;
        lock.unlock();
        if (store)
            job(*store);
        lock.lock();
        busy = false;
        if (queue.empty())
            idle.notify_all();
    }
}

void StoreWorker::finishAll()
{
    while (pending > 0) {
        {
            std::unique_lock lock(mutex);
            idle.wait(lock, [this] { return queue.empty() && !busy; });
        }
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
}
