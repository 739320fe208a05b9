/*
 * A host that opens a port on its main thread and takes the items on a
 * worker thread (Linux and other POSIX systems).
 *
 *   host_worker_posix PORT [SECTION [COUNT [SECONDS]]]
 *
 * On Linux any thread that calls qen_GetMsg (for any handle) or
 * qen_CloseComm runs the hand-offs waiting for the host, so the worker alone
 * keeps the host's duty, although the main thread made the first
 * qen_InitComm. While a port is open, some thread must keep polling.
 */
#define _POSIX_C_SOURCE 199309L /* nanosleep */

#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "zentrok.h"

/* No message has this number (messages carry -9..99): an item that leaves
 * it in the record is a queued entry of the message before it. */
#define NOT_A_NUMBER INT32_MIN

struct worker {
    QenHandle handle;
    int count;   /* stop after this many items; 0: no limit */
    int seconds; /* stop after this many seconds */
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

/* Polls the port until done, then closes it on this thread too. */
static void* poll_port(void* arg) {
    struct worker* work = arg;
    const struct timespec idle = {0, 1000000}; /* 1 ms */
    const time_t end = time(NULL) + work->seconds;
    QenMsg msg = {0};
    while ((work->count == 0 || work->received < work->count) && time(NULL) < end) {
        msg.Number = NOT_A_NUMBER;
        if (qen_GetMsg(work->handle, &msg))
            print_item(++work->received, &msg);
        else
            nanosleep(&idle, NULL);
    }
    qen_CloseComm(work->handle);
    return NULL;
}

int main(int argc, char** argv) {
    if (argc < 2 || argc > 5) {
        fprintf(stderr, "usage: %s PORT [SECTION [COUNT [SECONDS]]]\n", argv[0]);
        return 2;
    }
    const int port = atoi(argv[1]);
    struct worker work = {NULL, argc > 3 ? atoi(argv[3]) : 0, argc > 4 ? atoi(argv[4]) : 10, 0};

    work.handle = qen_InitComm(port, argc > 2 ? atoi(argv[2]) : 1);
    if (!work.handle) {
        fprintf(stderr, "port %d did not open\n", port);
        return 1;
    }
    printf("port %d opened on the main thread; a worker thread takes the items\n", port);
    fflush(stdout);

    pthread_t worker;
    if (pthread_create(&worker, NULL, poll_port, &work) != 0) {
        qen_CloseComm(work.handle);
        return 1;
    }
    pthread_join(worker, NULL);
    printf("%d items\n", work.received);
    return 0;
}
