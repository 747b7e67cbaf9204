// Stands in for the client's uninstaller ("unInstall.exe"): says what it is
// and removes nothing.

#include <cstdio>

int main()
{
    std::puts("流光骑士卸载程序（演示替身）：不卸载任何文件。");
    return 0;
}
