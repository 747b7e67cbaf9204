// Stands in for the client's background processes ("ZURizad.exe",
// "ruzuvaveru.exe"; the same program under both names): no window, no work,
// it only waits until it is killed.

#include <chrono>
#include <thread>

int main()
{
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));
}
