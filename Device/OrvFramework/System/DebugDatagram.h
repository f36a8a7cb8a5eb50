#pragma once
// Debug text as UDP datagrams to a listening host.
//
// The first call sets up the channel: it resolves the host (else this machine's own name, else
// 127.0.0.1), creates the socket and announces itself with three datagrams: "*** APPLICATION
// Launched on ", the address in dotted form and "***\n". The destination is then fixed for the
// life of the process; the socket is never closed. A failed setup is tried again on the next call.
// Nothing is reported to the caller: debug output never fails.

namespace Orv {

// Sends text (without its NUL) as one datagram; a null or empty text sends nothing beyond the
// setup. Ports outside 1..65535 send nothing at all.
void SendDebugDatagram(const char* host, int port, const char* text);

}  // namespace Orv
