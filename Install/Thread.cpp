#include "Thread.h"

#include "Operation.h"

#include <QDebug>

#include <atomic>

namespace {

std::atomic<int> runningJobs{0};

// The release runs on an install object of the job thread's own; its
// progress crosses to the main thread through this thread object.
bool releaseClientFiles(Thread *thread)
{
    Operation worker;
    QObject::connect(&worker, &Operation::sign_int_progressvalue, thread, &Thread::connect_startspeedprogressmax);
    return worker.releasefile();
}

} // namespace

Thread::Thread(int job) : job(job)
{
}

void Thread::connect_startspeedprogressmax(int maxvalue)
{
    emit sign_int_procesvalue(maxvalue);
}

int Thread::running()
{
    return runningJobs.load();
}

void Thread::run()
{
    struct Running
    {
        Running() { ++runningJobs; }
        ~Running() { --runningJobs; }
    } running;
    qInfo() << "<线程操作>:启动,线程ID:" << job;
    switch (job) {
    case 1:
        emit sign_bool_addStartProject(addStartProject(), 1);
        break;
    case 2:
        emit sign_bool_releasefile(releaseClientFiles(this), 2);
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
