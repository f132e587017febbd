/* What Wine's serial driver does with a COM port that is a Linux pseudo-terminal:
 *   comm_wait_probe.exe COMn
 * waits for a received character the way Qt Serial Port's Windows backend does (SetCommMask
 * EV_RXCHAR, overlapped WaitCommEvent), then the plain way (overlapped ReadFile), each for up
 * to five seconds, and prints one line for each:
 *   waitcommevent: pending|immediate mask=0x.. after=<ms>   (EV_RXCHAR is 0x1)
 *   readfile: bytes=<n> after=<ms>
 * The other end of the pseudo-terminal sends its first byte two seconds after the port opens,
 * then one a second: a wait that ends sooner ended with nothing received. */
#include <stdio.h>
#include <windows.h>

static HANDLE openPort(const wchar_t* name) {
    wchar_t path[64];
    _snwprintf(path, 64, L"\\\\.\\%ls", name);
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, NULL);
}

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 2) {
        fputs("usage: comm_wait_probe COMn\n", stderr);
        return 2;
    }
    HANDLE port = openPort(argv[1]);
    if (port == INVALID_HANDLE_VALUE) {
        printf("open: failed, error %lu\n", GetLastError());
        return 1;
    }
    /* The line as the programmer sets it: 57600 baud, 8N1, raw. */
    DCB dcb = {0};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = 57600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    if (!SetCommState(port, &dcb)) {
        printf("setcommstate: failed, error %lu\n", GetLastError());
    }
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0}; /* reads return what is there */
    SetCommTimeouts(port, &timeouts);
    SetCommMask(port, EV_RXCHAR);

    OVERLAPPED overlapped = {0};
    overlapped.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    DWORD mask = 0;
    DWORD started = GetTickCount();
    const BOOL immediate = WaitCommEvent(port, &mask, &overlapped);
    if (!immediate && GetLastError() == ERROR_IO_PENDING) {
        DWORD done = 0;
        if (WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_OBJECT_0) {
            GetOverlappedResult(port, &overlapped, &done, FALSE);
        }
        printf("waitcommevent: pending mask=0x%lx after=%lu\n", mask, GetTickCount() - started);
    } else {
        printf("waitcommevent: immediate ok=%d mask=0x%lx after=%lu\n", immediate, mask,
               GetTickCount() - started);
    }

    /* Reads wait until a byte is there. */
    COMMTIMEOUTS blocking = {0, 0, 0, 0, 0};
    SetCommTimeouts(port, &blocking);
    char byte[1];
    DWORD got = 0;
    ResetEvent(overlapped.hEvent);
    started = GetTickCount();
    if (!ReadFile(port, byte, sizeof byte, &got, &overlapped) && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_OBJECT_0) {
            GetOverlappedResult(port, &overlapped, &got, FALSE);
        } else {
            CancelIo(port);
        }
    }
    printf("readfile: bytes=%lu after=%lu\n", got, GetTickCount() - started);
    CloseHandle(overlapped.hEvent);
    CloseHandle(port);
    return 0;
}
