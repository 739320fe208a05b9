/*
 * A Windows host that serves the driver from a worker thread, as a console
 * program or a service would.
 *
 *   host_worker_win32 PORT [SECTION [COUNT [SECONDS]]]
 *
 * Any thread that calls qen_GetMsg runs the driver's waiting hand-offs, so
 * the worker opens the port and keeps polling it for as long as it is open.
 * Between polls it waits with MsgWaitForMultipleObjects and retrieves its
 * window messages: the thread of the first open also gets the driver's
 * hidden window, whose notification wakes it as soon as a hand-off waits.
 */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "zentrok.h"

/* No message has this number (messages carry -9..99): an item that leaves
 * it in the record is a queued entry of the message before it. */
#define NOT_A_NUMBER INT32_MIN

struct worker {
    int port;
    int section;
    int count;   /* stop after this many items; 0: no limit */
    DWORD until; /* GetTickCount() at which to stop */
    int opened;
    int received;
};

static void print_item(int item, const QenMsg* msg) {
    if (msg->Number == NOT_A_NUMBER)
        printf("%d: queued entry", item);
    else
        printf("%d: number %d", item, (int)msg->Number);
    printf(", channel %u, ident %08X, code \"%.*s\", text \"%.*s\"\n", (unsigned)msg->Channel, (unsigned)msg->Ident,
           msg->Code.Length, msg->Code.Chars, msg->Text.Length, msg->Text.Chars);
    fflush(stdout);
}

/* The host thread: opens, serves and closes the port. */
static DWORD WINAPI serve_port(LPVOID arg) {
    struct worker* work = arg;
    const QenHandle handle = qen_InitComm(work->port, work->section);
    if (!handle) return 1;
    work->opened = 1;
    printf("port %d opened on the worker thread\n", work->port);
    fflush(stdout);

    QenMsg msg = {0};
    while ((work->count == 0 || work->received < work->count) && (LONG)(work->until - GetTickCount()) > 0) {
        /* Wakes for window messages (the driver's notifications), or after
         * 10 ms to poll. */
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        for (msg.Number = NOT_A_NUMBER; qen_GetMsg(handle, &msg); msg.Number = NOT_A_NUMBER)
            print_item(++work->received, &msg);
    }
    qen_CloseComm(handle);
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 2 || argc > 5) {
        fprintf(stderr, "usage: %s PORT [SECTION [COUNT [SECONDS]]]\n", argv[0]);
        return 2;
    }
    const int seconds = argc > 4 ? atoi(argv[4]) : 10;
    struct worker work = {atoi(argv[1]),
                          argc > 2 ? atoi(argv[2]) : 1,
                          argc > 3 ? atoi(argv[3]) : 0,
                          GetTickCount() + (DWORD)seconds * 1000,
                          0,
                          0};

    const HANDLE worker = CreateThread(NULL, 0, serve_port, &work, 0, NULL);
    if (!worker) return 1;
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    if (!work.opened) {
        fprintf(stderr, "port %d did not open\n", work.port);
        return 1;
    }
    printf("%d items\n", work.received);
    return 0;
}
