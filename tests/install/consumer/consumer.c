/* A host built against an installed copy of the driver. */
#include <stdio.h>
#include <string.h>
#include <zentrok.h>

int main(void) {
    int32_t info1 = 0;
    const char* name = Qen_GetName(&info1, NULL, NULL);
    QenMsg msg;
    memset(&msg, 0, sizeof msg);
    if (strcmp(name, "ZENTROK") != 0 || info1 != 65533 || qen_GetMsg(NULL, &msg) != 0) return 1;
    printf("%s %d\n", name, (int)sizeof msg);
    return 0;
}
