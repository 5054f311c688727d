#pragma once

#include <cstddef>
#include <cstdint>

// The web server's thin layer over POSIX stream sockets. -1 means no socket.
// Receive and send calls never close: a failure is returned and the socket's
// owner closes it, so each socket is closed exactly once.
constexpr int kNoSocket = -1;

// An IPv4 stream socket bound to every local address on port, listening with
// the system's largest backlog (SO_REUSEADDR on). kNoSocket on failure, with errno set and
// *failedStep (when given) naming the call that failed.
int OpenListener(int32_t port, const char** failedStep = nullptr);
// The same on one local address: empty is every IPv4 address, an IPv4 or
// IPv6 literal that address alone, "::" IPv6 and IPv4 where the system
// allows. An address that is not a literal fails with EINVAL at "address".
int OpenListener(int32_t port, const char* address, const char** failedStep);

// Closes a socket variable and sets it to none; negative values count as none.
void CloseSocket(int& socket);

// Lets a sent response reach the peer before the close: half-closes, then
// reads and drops what the peer still sends until it closes (at most waitMs).
// Closing with unread input would reset the connection and could destroy
// response bytes the client has not read yet.
void FinishSending(int socket, int waitMs);

// Receives exactly n bytes; n, or -1 when the peer closed, timed out or failed.
int ReceiveExact(int socket, void* buffer, int n);
// One byte as 0..255, or -1.
int ReceiveByte(int socket);
// Reads one line into buffer (zero-filled first, size at least 2): CR bytes
// are skipped, LF ends the line. Returns the characters stored, or -1 when
// receiving fails or the line holds more than size - 2 characters.
int ReadLine(int socket, char* buffer, int size);

// Sends all n bytes, looping over partial sends; n, or -1 on any failure.
// Never raises SIGPIPE. more: further data follows at once (lets the kernel
// merge it into the same segments).
int SendAll(int socket, const void* data, std::size_t n, bool more = false);
// SendAll that gives up (-1, ETIMEDOUT) when the peer has not taken all n
// bytes within waitMs, however the bytes trickle out.
int SendAllWithin(int socket, const void* data, std::size_t n, int waitMs, bool more = false);
// SendAll of a text without its terminating zero.
int SendText(int socket, const char* text, bool more = false);

// Sets the receive and send timeouts of a socket; 0 or less means none.
void SetSocketTimeouts(int socket, int timeoutMs);
