#pragma once

// One install job off the main thread:
// 1 logon task, 2 file release, 3 stop the client's processes,
// 4 remove the client's driver service.

#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <QVector>

class Thread : public QThread
{
    Q_OBJECT
public:
    // The job is carried by the thread itself, so two jobs started back to
    // back each run their own.
    explicit Thread(int job);

    // Starts the job. It counts as running from here, so a job started just
    // before the installer quits is waited for like any other.
    void startJob();
    // Jobs started whose run() has not returned yet, in the whole process.
    static int running();

signals:
    void sign_bool_addStartProject(bool success, int threadid);
    void sign_bool_killProcess(bool success, int threadid);
    void sign_bool_replydrivesysinstall(bool success, int threadid);
    void sign_int_procesvalue(int maxvalue);
    // End of job 2, so the installing page can tell a failed release.
    void sign_bool_releasefile(bool success, int threadid);

public slots:
    void connect_startspeedprogressmax(int maxvalue);

protected:
    void run() override;

private:
    bool releaseClientFiles();
    // Job 2's progress, gathered in the job thread and handed to the main
    // thread in batches (see Thread.cpp).
    void queueProgress(int value);
    void postProgressDelivery();
    void flushProgress();
    void deliverProgress();

    const int job;
    QMutex progressMutex;
    QVector<int> pendingProgress;
    bool deliveryPosted = false;
    int lastPostedValue = -1;
    QElapsedTimer sincePost;
};
