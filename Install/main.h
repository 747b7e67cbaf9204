#pragma once

// Start-up of the installer, its log sink and its crash handler.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>

class Network;
namespace Platform {
class ImageListing;
}
class Operation;
class QObject;
class QQmlApplicationEngine;
class QQmlComponent;
class QQmlEngine;

// Title of the main page, and the name a second instance looks for.
extern const QString installerTitle;

// Formats every message and writes it to the log files and the console.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

// Sends crash report "1001" and tells the user; waits up to waitAfterBoxMs
// after the box for the report to be taken.
void reportCrash(const QString &code, const QString &address, int waitAfterBoxMs);

// Channel values carried in the installer's image name.
struct ChannelValues
{
    QString inviteCdk;
    QString oemId;
    QString projectName;
};

// The start-up steps, in the order main() runs them.
void setOrganisationName();
bool checkSingleInstance();
void drawPagesInSoftware();
void readCommandLine(int argc, char *argv[]);
void applyCommandLineFlag(const char *argument);
void installLogSink();
ChannelValues scanInstallerChannel(const QByteArray &listing, ChannelValues values);
void readInstallerChannel(Platform::ImageListing &listing);
void discoverApi(Network &network);
void checkSecondInstall();
void waitForApi();
void installCrashFilter();
void registerQmlTypes();
void preferBundledModules(QQmlEngine &engine);
void startLoadingMainPage(QQmlComponent &page);
std::unique_ptr<QObject> makeMainPage(QQmlApplicationEngine &engine, QQmlComponent &page);
void startClientStopJob(Operation &operation, QObject *page);
void showMainPage(QQmlComponent &page);
void armTestFault();
void leaveRunningJobs(int exitCode);

// The command-line flags this run goes by.
QStringList runFlags();

// A crashed installer starts this program again to report the crash.
bool isCrashReporterRun();
int runCrashReporter(int argc, char *argv[]);
