// seam_connection.h - a connection for tests, made through the platform:
// the socket the program's code reads is a plat_socket from
// plat_tcp_connect, and the test writes into the other end.  No test needs
// to know how a backend turns its sockets into handles.
#pragma once

#include <string>

#include "platform/platform.h"

struct SeamConnection {
    plat_socket socket = 0;   // handed to the code under test, which closes it
    int peer = -1;            // the test's end (a descriptor), for writing
};

// Connects a plat_socket to a loopback listener and keeps the accepted end
// as the peer.  burst is the most the test will write at once without the
// socket being read: the connection is run in until that many bytes arrive
// whole (the kernel widens a connection's receive window only as a reader
// takes bytes in).  1 on success.
int seam_connect(SeamConnection *c, size_t burst = 65536);
// Writes bytes into the peer and waits (up to 5 s) until all of them are
// readable on the socket; 1 when they are.
int seam_send(const SeamConnection &c, const std::string &bytes);
// Closes the peer end; the socket is left to its owner.
void seam_close_peer(SeamConnection *c);
