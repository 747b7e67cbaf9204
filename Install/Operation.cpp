#include "Operation.h"
Operation::Operation(QObject *p) : QObject(p) {}
void Operation::boolfinishthread(bool, int) {}
QString Operation::getdefaultinstall_path() { return {}; }
bool Operation::setdefaultinstall_path(QString) { return true; }
void Operation::setcreatelink(bool) {}
QString Operation::getpath(QString) { return {}; }
bool Operation::releasefile() { return false; }
bool Operation::copyfile(QString, QString, bool) { return false; }
bool Operation::releasefilecount(QString, int &) { return false; }
bool Operation::setprogressvalue(int) { return true; }
void Operation::startthread(int) {}
bool Operation::createLink() { return true; }
QString Operation::createPath(QString) { return {}; }
bool Operation::writeregedit() { return true; }
bool Operation::startexe() { return false; }
void Operation::createMenuPath() {}
bool Operation::setversion() { return true; }
bool Operation::getisskip() { return false; }
void Operation::openurl(QString) {}
void Operation::iftwiceinstall() {}
