/* Finds a top-level window by its caption and prints what Windows itself says of it:
 *   window_probe.exe CAPTION SECONDS
 * prints "caption=<text> client=<w>x<h> frame=<left>,<top>,<right>,<bottom>" and exits 0, or
 * exits 1 when no such window appeared within SECONDS. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 3) {
        fputs("usage: window_probe CAPTION SECONDS\n", stderr);
        return 2;
    }
    const DWORD deadline = GetTickCount() + 1000u * (DWORD)_wtoi(argv[2]);
    HWND window = NULL;
    while ((window = FindWindowW(NULL, argv[1])) == NULL || !IsWindowVisible(window)) {
        if ((LONG)(GetTickCount() - deadline) >= 0) {
            return 1;
        }
        Sleep(100);
    }
    Sleep(1000); /* let it finish painting before anyone takes a picture */
    wchar_t caption[256];
    GetWindowTextW(window, caption, 256);
    RECT client;
    RECT frame;
    GetClientRect(window, &client);
    GetWindowRect(window, &frame);
    char utf8[1024];
    WideCharToMultiByte(CP_UTF8, 0, caption, -1, utf8, sizeof utf8, NULL, NULL);
    printf("caption=%s client=%ldx%ld frame=%ld,%ld,%ld,%ld\n", utf8, client.right - client.left,
           client.bottom - client.top, frame.left, frame.top, frame.right, frame.bottom);
    return 0;
}
