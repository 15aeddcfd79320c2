#pragma once

#include <QtGlobal>

#include <netinet/in.h>
#include <sys/socket.h>

// A listening socket on 127.0.0.1 at a port the kernel picks, put in port.
// A receive buffer given is set before listening, so the connections it
// accepts inherit it: a peer that stops reading soon closes its window.
inline int loopbackListener(quint16& port, int receiveBuffer = 0) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd, 1);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
    return fd;
}
