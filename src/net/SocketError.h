// Socket error codes as the rest of the system knows them: the Winsock numbers (10035 would-block,
// 10054 connection reset, ...). Platform errno values are mapped once, here, and kept per thread like
// the platform's own last-error value.
#pragma once

constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAEDISCON = 10101;  // the peer closed the connection in an orderly way
constexpr int WSAHOST_NOT_FOUND = 11001;

// The Winsock number for a platform errno value; 0 stays 0, a value without a counterpart becomes
// WSAEINVAL so that a failure is never mistaken for success.
int WinsockErrorFromErrno(int err);

// The calling thread's last socket error (Winsock number), as WSAGetLastError gives it.
int GetLastSocketError();
void SetLastSocketError(int code);
// Stores the mapped value of errno as the calling thread's last socket error and returns it.
int SetLastSocketErrorFromErrno();
