#include "AfxSock.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/UniqueFd.h"

BOOL AfxSocketInit(void*) {
    return CUniqueFd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP)) ? TRUE : FALSE;
}
