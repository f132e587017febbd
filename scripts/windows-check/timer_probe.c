/* How late a Windows waitable timer wakes after its due time: the same wait the program's
 * precise sleep uses (a high-resolution waitable timer where the system has one, else a plain
 * one after timeBeginPeriod(1)), 19.75 ms at a time, timed with the performance counter. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

static int compare(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

int wmain(void) {
    enum { rounds = 200 };
    static double late[rounds];
    int highResolution = 1;
    HANDLE timer = CreateWaitableTimerExW(NULL, NULL, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    if (timer == NULL) {
        highResolution = 0;
        timeBeginPeriod(1);
        timer = CreateWaitableTimerW(NULL, TRUE, NULL);
    }
    LARGE_INTEGER frequency, start, end, due;
    QueryPerformanceFrequency(&frequency);
    for (int i = 0; i < rounds; ++i) {
        due.QuadPart = -197500; /* 19.75 ms, relative, in 100 ns */
        QueryPerformanceCounter(&start);
        SetWaitableTimer(timer, &due, 0, NULL, NULL, FALSE);
        WaitForSingleObject(timer, INFINITE);
        QueryPerformanceCounter(&end);
        late[i] = (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart -
                  19.75;
    }
    qsort(late, rounds, sizeof late[0], compare);
    printf("high-resolution timer: %s; wake-up after due time, ms: min %.3f p50 %.3f p90 %.3f "
           "p99 %.3f max %.3f\n",
           highResolution ? "yes" : "no", late[0], late[rounds / 2], late[rounds * 9 / 10],
           late[rounds * 99 / 100], late[rounds - 1]);
    return 0;
}
