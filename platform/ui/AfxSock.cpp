#include "AfxSock.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

BOOL AfxSocketInit(void*) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        return FALSE;
    }
    close(fd);
    return TRUE;
}
