#pragma once

#include <QStringList>
#include <QWidget>

struct ClientConfig;
class QGridLayout;

// The client's one window: the installed version and the channel values
// the installer recorded, and how the client was started.
class ClientWindow : public QWidget
{
public:
    ClientWindow(const ClientConfig &config, const QString &installDir, const QStringList &arguments);

private:
    void addRow(QGridLayout *grid, const QString &name, const QString &value);
};
