// Runs one step of the install engine in a process of its own, for tests
// that need the engine elsewhere than in the test program: the installer's
// folder is the folder of the running program, and a size limit or a crash
// should hit this process, not the test.
//
//   engine_helper release TARGET       releasefile() into TARGET; prints
//                                      "progress N" per file, then "result B"
//   engine_helper job2 TARGET          the same through startthread(2)
//   engine_helper copy SOURCE TARGET
//                                      copyfile(SOURCE, TARGET, true)
//   engine_helper addstartproject INSTALLPATH
//                                      addStartProject() for that install
// The exit code is 0 when the step succeeded.

#include "Info.h"
#include "Operation.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

void printProgress(int value)
{
    out() << "progress " << value << Qt::endl;
}

int printResult(bool ok)
{
    out() << "result " << (ok ? "true" : "false") << Qt::endl;
    return ok ? 0 : 1;
}

int releaseThroughJob(QCoreApplication &app)
{
    Operation operation;
    QObject::connect(&operation, &Operation::qml_sign_int_progressvalue, &printProgress);
    int exitCode = 2;
    QObject::connect(&operation, &Operation::qmlSign_bool_releasefile, &app, [&](bool ok) {
        exitCode = printResult(ok);
        app.quit();
    });
    operation.startthread(2);
    app.exec();
    return exitCode;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    const QString command = arguments.value(0);
    if (command == QLatin1String("release")) {
        installPath = arguments.value(1);
        Operation operation;
        QObject::connect(&operation, &Operation::sign_int_progressvalue, &printProgress);
        return printResult(operation.releasefile());
    }
    if (command == QLatin1String("job2")) {
        installPath = arguments.value(1);
        return releaseThroughJob(app);
    }
    if (command == QLatin1String("copy")) {
        Operation operation;
        return printResult(operation.copyfile(arguments.value(1), arguments.value(2), true));
    }
    if (command == QLatin1String("addstartproject")) {
        installPath = arguments.value(1);
        return printResult(addStartProject());
    }
    return 3;
}
