// TCP client part of our run-time: conversations with a server over QTcpSocket, with the
// run-time's calls, events and status codes. Call them from the thread that runs the application
// object (the GUI thread); the application object must exist (InitRunTimeEngine).
#pragma once

namespace qv::rt {

// Called with TCP_DATAREADY while unread bytes wait, and once with TCP_DISCONNECT when the server
// has closed the conversation or it broke (errCode 0 for an orderly close, else the status
// below). Calls come from event processing only (ProcessSystemEvents or the main loop), never
// from inside ClientTCPRead or ClientTCPWrite, and never nested in a call for the same
// conversation. The return value is ignored.
using tcpFuncPtr = int (*)(unsigned handle, int xType, int errCode, void *callbackData);

constexpr int TCP_DISCONNECT = 2;
constexpr int TCP_DATAREADY = 3;

// ---- Status codes, with the names the program shows. 0 or positive is success. ----
constexpr int kTCP_UnableToRegisterService = -1;
constexpr int kTCP_UnableToEstablishConnection = -2;
constexpr int kTCP_ExistingServer = -3;
constexpr int kTCP_FailedToConnect = -4;
constexpr int kTCP_ServerNotRegistered = -5;
constexpr int kTCP_TooManyConversations = -6;
constexpr int kTCP_ReadFailed = -7;
constexpr int kTCP_WriteFailed = -8;
constexpr int kTCP_InvalidParameter = -9;
constexpr int kTCP_OutOfMemory = -10;
constexpr int kTCP_TimeOutError = -11;
constexpr int kTCP_NoConnectionEstablished = -12;
constexpr int kTCP_GeneralIOErr = -13;
constexpr int kTCP_ConnectionClosed = -14;
constexpr int kTCP_UnableToLoadWinsockDLL = -15;
constexpr int kTCP_IncorrectWinsockDLLVersion = -16;
constexpr int kTCP_NetworkSubsystemNotReady = -17;
constexpr int kTCP_ConnectionsStillOpen = -18;
constexpr int kTCP_DisconnectPending = -19;
constexpr int kTCP_InfoNotAvailable = -20;

// What each call gives for what went wrong:
//   Argument checks
//     port 0 or above 65535, null or empty host, null handle    -9  InvalidParameter
//     null buffer, negative size (read: size below 1)           -9  InvalidParameter
//     handle unknown or already disconnected                   -12  NoConnectionEstablished
//     more than 256 conversations open at once                  -6  TooManyConversations
//     no application object                                    -17  NetworkSubsystemNotReady
//   Qt socket errors (QAbstractSocket::SocketError)
//     ConnectionRefusedError                                     -2  UnableToEstablishConnection
//     HostNotFoundError (the name does not resolve)              -2  UnableToEstablishConnection
//     NetworkError (network or host unreachable)                 -2  UnableToEstablishConnection
//     SocketAccessError, SocketAddressNotAvailableError          -2  UnableToEstablishConnection
//     Proxy...Error                                              -2  UnableToEstablishConnection
//     SocketTimeoutError                                        -11  TimeOutError
//     RemoteHostClosedError (closed or reset by the server)     -14  ConnectionClosed
//     any other error while connecting                          -13  GeneralIOErr
//     any other error while reading                              -7  ReadFailed
//     any other error while writing                              -8  WriteFailed
//   Every reason a connection cannot be made reads "UnableToEstablishConnection": whether the
//   name does not resolve or the server refuses, the operator checks the same address setting.

// Connects to serverHostName (a name or an address) at portNumber, waiting up to timeoutMs
// (0: no waiting beyond what succeeds at once). On success stores the new conversation's handle,
// a small positive integer not used before, in *conversationHandle and returns 0; TCP_NODELAY is
// on. callback may be null (no events).
int ConnectToTCPServer(unsigned *conversationHandle, unsigned portNumber,
                       const char *serverHostName, tcpFuncPtr callback, void *callbackData,
                       unsigned timeoutMs);
// The same without waiting: returns at once, 0 with the new conversation's handle while its
// connection is still under way, or the status of a check above. GetTCPConnectState tells how
// the connection goes; reads and writes on it give -12 until it is made.
int StartConnectToTCPServer(unsigned *conversationHandle, unsigned portNumber,
                            const char *serverHostName, tcpFuncPtr callback, void *callbackData,
                            unsigned timeoutMs);
// For a conversation started so: 1 while it is still connecting, 0 once it is connected, else
// the status its connection failed with (as ConnectToTCPServer would give it); the handle then
// stays reserved until DisconnectFromTCPServer. -12 for an unknown handle.
int GetTCPConnectState(unsigned handle);
// Closes the conversation and forgets the handle; no callback follows. Also the way to release
// a conversation the server has closed. Returns 0 or -12 for an unknown handle.
int DisconnectFromTCPServer(unsigned handle);
// Sends `size` bytes and waits up to timeoutMs until they have left. Returns size, or -11 when
// the time-out strikes first: the rest then stays queued and goes out as the server takes it, so
// the byte stream stays whole. -14 when the server has closed the conversation.
int ClientTCPWrite(unsigned handle, const void *data, int size, unsigned timeoutMs);
// Reads what is there, at most `size` bytes, waiting up to timeoutMs for the first byte (0: do
// not wait). Returns the number read (1..size), -11 on time-out, or -14 when the server has
// closed the conversation and everything it sent has been read.
int ClientTCPRead(unsigned handle, void *buffer, int size, unsigned timeoutMs);

} // namespace qv::rt
