#include "ClientWindow.h"

#include "ClientConfig.h"

#include <QGridLayout>
#include <QVariant>
#include <QLabel>
#include <QVBoxLayout>

namespace {

const char *const clientStyle = R"(
    QWidget { background: #0b1a3a; color: #ffffff; font-family: "WenQuanYi Micro Hei"; font-size: 14px; }
    QLabel#title { font-size: 26px; font-weight: bold; }
    QLabel#subtitle { color: #8fb0d6; }
    QLabel#version { color: #35d8ff; font-size: 18px; }
    QLabel[role="name"] { color: #8fb0d6; }
    QLabel[role="unset"] { color: #5d7396; }
)";

QString openStartText(const QString &value)
{
    if (value.isEmpty())
        return QString();
    return value == QLatin1String("true") ? QStringLiteral("已开启") : QStringLiteral("未开启");
}

QLabel *label(const QString &text, const char *name = nullptr)
{
    auto *l = new QLabel(text);
    if (name)
        l->setObjectName(QLatin1String(name));
    return l;
}

} // namespace

ClientWindow::ClientWindow(const ClientConfig &config, const QString &installDir, const QStringList &arguments)
{
    setWindowTitle(QStringLiteral("流光骑士"));
    setStyleSheet(QLatin1String(clientStyle));
    setMinimumWidth(460);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->setSpacing(6);
    layout->addWidget(label(QStringLiteral("流光骑士"), "title"));
    layout->addWidget(label(QStringLiteral("游戏加速器 · 演示客户端"), "subtitle"));
    layout->addSpacing(10);
    const QString version = config.show.isEmpty() ? QStringLiteral("未找到安装信息")
                                                  : QStringLiteral("已安装 %1 版").arg(config.show);
    layout->addWidget(label(version, "version"));
    layout->addSpacing(10);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(18);
    grid->setVerticalSpacing(8);
    addRow(grid, QStringLiteral("版本"), config.show);
    addRow(grid, QStringLiteral("版本号"), config.update);
    addRow(grid, QStringLiteral("渠道号"), config.oem);
    addRow(grid, QStringLiteral("邀请码"), config.cdk);
    addRow(grid, QStringLiteral("项目"), config.project);
    addRow(grid, QStringLiteral("开机启动"), openStartText(config.openstart));
    addRow(grid, QStringLiteral("安装目录"), installDir);
    addRow(grid, QStringLiteral("启动参数"), arguments.join(QLatin1Char(' ')));
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    layout->addStretch();
}

// An empty value shows as "未设置", greyed, so a missing entry is plain to see.
void ClientWindow::addRow(QGridLayout *grid, const QString &name, const QString &value)
{
    const int row = grid->rowCount();
    QLabel *nameLabel = label(name);
    nameLabel->setProperty("role", QStringLiteral("name"));
    QLabel *valueLabel = label(value.isEmpty() ? QStringLiteral("未设置") : value);
    valueLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    valueLabel->setWordWrap(true);
    if (value.isEmpty())
        valueLabel->setProperty("role", QStringLiteral("unset"));
    grid->addWidget(nameLabel, row, 0, Qt::AlignTop);
    grid->addWidget(valueLabel, row, 1);
}
