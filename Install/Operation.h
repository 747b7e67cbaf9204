#pragma once

// The install object the pages drive, and the free install steps the job
// threads run.

#include <QObject>
#include <QString>

class Operation : public QObject
{
    Q_OBJECT
public:
    explicit Operation(QObject *parent = nullptr);

signals:
    void sign_int_progressvalue(int maxvalue);
    void qml_sign_int_progressvalue(int value);
    void qmlSign_bool_setaddstartproject(bool success);
    void qmlSign_bool_killprogress(bool success);
    void qmlSign_bool_uninstalldrive(bool success);
    // End of the file release; when it failed the installing page stops
    // and names the log file that tells why.
    void qmlSign_bool_releasefile(bool success, QString logfile);

private slots:
    void boolfinishthread(bool success, int threadid);

public:
    Q_INVOKABLE QString getdefaultinstall_path();
    Q_INVOKABLE bool setdefaultinstall_path(QString path);
    Q_INVOKABLE void setcreatelink(bool iscreate);
    Q_INVOKABLE QString getpath(QString linkpath);
    Q_INVOKABLE bool releasefile();
    Q_INVOKABLE bool copyfile(QString oldpath, QString newpath, bool coverFileIfExist);
    Q_INVOKABLE bool releasefilecount(QString oldpath, int &count);
    Q_INVOKABLE bool setprogressvalue(int value);
    Q_INVOKABLE void startthread(int id);
    Q_INVOKABLE bool createLink();
    Q_INVOKABLE QString createPath(QString path);
    Q_INVOKABLE bool writeregedit();
    Q_INVOKABLE bool startexe();
    Q_INVOKABLE void createMenuPath();
    Q_INVOKABLE bool setversion();
    Q_INVOKABLE bool getisskip();
    Q_INVOKABLE void openurl(QString url);
    Q_INVOKABLE void iftwiceinstall();
};

// The desktop-shortcut choice of the main page.
extern bool createLinkChoice;

// Install steps run by the job threads.
bool killProcess();
bool querynewsys();
bool stopnewsys();
bool uninstallnewsys();
bool uninstalldrive();
bool hasStartProject();
bool addStartProject();
