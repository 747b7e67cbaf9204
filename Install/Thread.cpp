#include "Thread.h"
Thread::Thread(int job) : job(job) {}
void Thread::connect_startspeedprogressmax(int v) { emit sign_int_procesvalue(v); }
void Thread::run() {}
