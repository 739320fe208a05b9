/*
 * A minimal host: opens a port, prints every item it receives, closes it.
 *
 *   host_minimal PORT [SECTION [COUNT [SECONDS]]]
 *
 * SECTION selects the line settings [RecNr<SECTION>] of Rn.ini in the
 * current directory (default 1); it stops after COUNT items (default: no
 * limit) or SECONDS seconds (default 10).
 */
#define _POSIX_C_SOURCE 199309L /* nanosleep */

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "zentrok.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 5) {
        fprintf(stderr, "usage: %s PORT [SECTION [COUNT [SECONDS]]]\n", argv[0]);
        return 2;
    }
    const int port = atoi(argv[1]);
    const int section = argc > 2 ? atoi(argv[2]) : 1;
    const int count = argc > 3 ? atoi(argv[3]) : 0;
    const int seconds = argc > 4 ? atoi(argv[4]) : 10;

    int32_t info1, info2, info3;
    const char* name = Qen_GetName(&info1, &info2, &info3);
    printf("driver %s (%d, %d, %d)\n", name, (int)info1, (int)info2, (int)info3);

    QenHandle handle = qen_InitComm(port, section);
    if (!handle) {
        fprintf(stderr, "port %d did not open\n", port);
        return 1;
    }

    /* A queued entry writes only channel, ident, code and text. Number is
     * set before each call to a value no message has (messages carry -9..99),
     * so an item that leaves it there is a queued entry of the message
     * before it. */
    const int32_t not_a_number = INT32_MIN;
    QenMsg msg = {0};
    const struct timespec idle = {0, 1000000}; /* 1 ms */
    const time_t end = time(NULL) + seconds;
    int received = 0;
    /* This thread opened the port, so it is the one that has to keep calling
     * qen_GetMsg: the driver hands each message over inside that call. */
    while ((count == 0 || received < count) && time(NULL) < end) {
        msg.Number = not_a_number;
        if (!qen_GetMsg(handle, &msg)) {
            nanosleep(&idle, NULL);
            continue;
        }
        ++received;
        const int queued = msg.Number == not_a_number;
        if (queued)
            printf("%d: queued entry", received);
        else
            printf("%d: number %d", received, (int)msg.Number);
        printf(", channel %u, ident %08X, code \"%.*s\", text \"%.*s\"", (unsigned)msg.Channel, (unsigned)msg.Ident,
               msg.Code.Length, msg.Code.Chars, msg.Text.Length, msg.Text.Chars);
        /* A message without a time stamp has wYear QEN_NO_STAMP; the other
         * words of Stamp are then not meaningful. */
        if (!queued && msg.Stamp.wYear != QEN_NO_STAMP)
            printf(", at %02u.%02u. %02u:%02u:%02u", (unsigned)msg.Stamp.wDay, (unsigned)msg.Stamp.wMonth,
                   (unsigned)msg.Stamp.wHour, (unsigned)msg.Stamp.wMinute, (unsigned)msg.Stamp.wSecond);
        printf("\n");
        fflush(stdout);
    }

    qen_CloseComm(handle);
    printf("%d items\n", received);
    return 0;
}
