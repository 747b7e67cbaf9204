#include "Thread.h"

#include "Operation.h"
#include "Platform.h"

#include <QDebug>

#include <atomic>

namespace {

std::atomic<int> runningJobs{0};

// How long release reports that don't move the bar are gathered before
// the main thread is woken for them.
const int progressBatchMs = 20;

} // namespace

Thread::Thread(int job) : job(job)
{
}

void Thread::connect_startspeedprogressmax(int maxvalue)
{
    emit sign_int_procesvalue(maxvalue);
}

void Thread::startJob()
{
    ++runningJobs;
    start();
}

int Thread::running()
{
    return runningJobs.load();
}

// The release runs on an install object of the job thread's own. Its
// progress, one report per file, crosses to the main thread through this
// thread object. Waking the main thread for each of thousands of small
// files would cost more than copying them, so a report with the value the
// page shows already is held and handed over with a later one: when the
// bar moves, once progressBatchMs have passed, or when the release ends.
// Every report still reaches the main thread, in order.
bool Thread::releaseClientFiles()
{
    Operation worker;
    QObject::connect(&worker, &Operation::sign_int_progressvalue, &worker,
                     [this](int value) { queueProgress(value); }, Qt::DirectConnection);
    const bool released = worker.releasefile();
    flushProgress();
    return released;
}

void Thread::queueProgress(int value)
{
    QMutexLocker lock(&progressMutex);
    pendingProgress.append(value);
    if (deliveryPosted || (value == lastPostedValue && sincePost.elapsed() < progressBatchMs))
        return;
    lastPostedValue = value;
    postProgressDelivery();
}

// Called with progressMutex held.
void Thread::postProgressDelivery()
{
    deliveryPosted = true;
    sincePost.start();
    QMetaObject::invokeMethod(this, [this] { deliverProgress(); }, Qt::QueuedConnection);
}

void Thread::flushProgress()
{
    QMutexLocker lock(&progressMutex);
    if (!pendingProgress.isEmpty() && !deliveryPosted)
        postProgressDelivery();
}

void Thread::deliverProgress()
{
    QVector<int> values;
    {
        QMutexLocker lock(&progressMutex);
        values.swap(pendingProgress);
        deliveryPosted = false;
    }
    for (int value : qAsConst(values))
        connect_startspeedprogressmax(value);
}

void Thread::run()
{
    struct Running
    {
        ~Running() { --runningJobs; }
    } running;
    const Platform::ThreadCrashStack crashStack;
    qInfo() << "<线程操作>:启动,线程ID:" << job;
    switch (job) {
    case 1:
        emit sign_bool_addStartProject(addStartProject(), 1);
        break;
    case 2:
        emit sign_bool_releasefile(releaseClientFiles(), 2);
        break;
    case 3:
        emit sign_bool_killProcess(killProcess(), 3);
        break;
    case 4:
        emit sign_bool_replydrivesysinstall(uninstalldrive(), 4);
        break;
    default:
        break;
    }
}
