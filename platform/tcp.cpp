#include "platform/tcp.h"

#include "platform/deadline_p.h"
#include "platform/hold_p.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <climits>
#include <map>
#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/socket.h>
#endif

namespace qv::rt {

namespace {

using detail::Clock;
using detail::msLeft;

constexpr std::size_t kMaxConversations = 256;
// A callback that leaves every byte unread is asked again after this pause rather than at once,
// so that the event loop does not spin on it.
constexpr int kUnreadRetryMs = 10;

// Above 0 while a callback runs from inside a socket's own signal.
int inSocketSignal = 0;

struct Conversation {
    unsigned handle = 0;
    // A child of the client context, so it goes with the application object even if the
    // program never disconnects; the pointer then reads null.
    QPointer<QTcpSocket> socket;
    tcpFuncPtr callback = nullptr;
    void *callbackData = nullptr;
    bool deliveryQueued = false;
    bool inCallback = false;
    bool peerClosed = false;
    int closeStatus = 0;
    bool disconnectReported = false;
    // The last data-ready call read nothing.
    bool dataIgnored = false;
    // 1 while a connection started without waiting is under way, 0 once made, else the status
    // it failed with.
    int connectState = 0;
    unsigned long long bytesRead = 0;

    ~Conversation() {
        if (!socket)
            return;
        QObject::disconnect(socket, nullptr, socket->parent(), nullptr);
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->abort();
        // A callback run from a socket's signal may be what disconnects: the socket then goes
        // once that signal is over.
        if (inSocketSignal > 0)
            socket->deleteLater();
        else
            delete socket.data();
    }
};

struct Client {
    std::map<unsigned, std::unique_ptr<Conversation>> conversations;
    unsigned nextHandle = 1;
    // Receives the posted callback deliveries and owns the sockets.
    QPointer<QObject> context;
    // Above 0 while ClientTCPRead or ClientTCPWrite waits on a socket.
    int waiting = 0;
};

Client &client() {
    static Client state;
    return state;
}

QObject *context() {
    Client &c = client();
    if (!c.context)
        c.context = new QObject(QCoreApplication::instance());
    return c.context;
}

// Marks a wait of ours: signals that come from inside it must not run a callback.
struct WaitScope {
    WaitScope() { ++client().waiting; }
    ~WaitScope() { --client().waiting; }
    WaitScope(const WaitScope &) = delete;
    WaitScope &operator=(const WaitScope &) = delete;
};

Conversation *find(unsigned handle) {
    auto &all = client().conversations;
    const auto it = all.find(handle);
    if (it == all.end() || !it->second->socket)
        return nullptr;
    return it->second.get();
}

enum class During { Connect, Read, Write };

int statusFor(QAbstractSocket::SocketError error, During during) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::SocketAccessError:
    case QAbstractSocket::SocketAddressNotAvailableError:
    case QAbstractSocket::ProxyAuthenticationRequiredError:
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyProtocolError:
        if (during == During::Connect)
            return kTCP_UnableToEstablishConnection;
        break;
    case QAbstractSocket::SocketTimeoutError:
        return kTCP_TimeOutError;
    case QAbstractSocket::RemoteHostClosedError:
        return kTCP_ConnectionClosed;
    default:
        break;
    }
    switch (during) {
    case During::Read:
        return kTCP_ReadFailed;
    case During::Write:
        return kTCP_WriteFailed;
    default:
        return kTCP_GeneralIOErr;
    }
}

void deliver(unsigned handle);

// Asks for a callback from the event loop, once however often it is asked before it runs.
void schedule(Conversation &c, int delayMs = 0) {
    if (!c.callback || c.deliveryQueued)
        return;
    c.deliveryQueued = true;
    const unsigned handle = c.handle;
    // The handle, not the conversation: a delivery for a conversation gone by then does nothing.
    if (delayMs == 0)
        QMetaObject::invokeMethod(
            context(), [handle] { deliver(handle); }, Qt::QueuedConnection);
    else
        QTimer::singleShot(delayMs, context(), [handle] { deliver(handle); });
}

void deliver(unsigned handle) {
    Conversation *c = find(handle);
    if (!c)
        return;
    c->deliveryQueued = false;
    // Nested in a callback that pumps events: the call after it returns looks again.
    if (c->inCallback || !c->callback)
        return;
    if (detail::callbacksHeld()) {
        c->deliveryQueued = true;
        detail::runWhenReleased([handle] { deliver(handle); });
        return;
    }
    const qint64 unread = c->socket->bytesAvailable();
    int event = 0;
    int errCode = 0;
    if (unread > 0 && !(c->peerClosed && c->dataIgnored)) {
        event = TCP_DATAREADY;
    } else if (c->peerClosed && !c->disconnectReported) {
        event = TCP_DISCONNECT;
        errCode = c->closeStatus;
        c->disconnectReported = true;
    } else {
        return;
    }
    const unsigned long long readBefore = c->bytesRead;
    c->inCallback = true;
    c->callback(handle, event, errCode, c->callbackData);
    c = find(handle);
    if (!c)
        return; // the callback disconnected
    c->inCallback = false;
    if (c->disconnectReported)
        return; // the last event of a conversation
    if (event == TCP_DATAREADY)
        c->dataIgnored = c->bytesRead == readBefore;
    if (c->socket->bytesAvailable() > 0)
        schedule(*c, c->dataIgnored && !c->peerClosed ? kUnreadRetryMs : 0);
    else if (c->peerClosed)
        schedule(*c);
}

void peerGone(unsigned handle, int status) {
    Conversation *c = find(handle);
    if (!c || c->peerClosed)
        return;
    c->peerClosed = true;
    c->closeStatus = status;
    schedule(*c);
}

void watch(Conversation &c) {
    QTcpSocket *s = c.socket;
    const unsigned handle = c.handle;
    // These signals also come from inside the waits of ClientTCPRead and ClientTCPWrite, where
    // no callback may run; there they only ask for one.
    QObject::connect(s, &QTcpSocket::readyRead, context(), [handle] {
        Conversation *conv = find(handle);
        if (!conv)
            return;
        conv->dataIgnored = false; // new bytes are worth a call of their own
        // From event processing the callback runs at once: a posted call would cost a wake-up
        // of the event loop and one more pass of it for every reply.
        if (client().waiting == 0) {
            ++inSocketSignal;
            deliver(handle);
            --inSocketSignal;
        } else {
            schedule(*conv);
        }
    });
    QObject::connect(s, &QTcpSocket::disconnected, context(), [handle] { peerGone(handle, 0); });
    QObject::connect(s, &QTcpSocket::errorOccurred, context(),
                     [handle](QAbstractSocket::SocketError error) {
                         Conversation *conv = find(handle);
                         if (!conv || error == QAbstractSocket::SocketTimeoutError ||
                             conv->socket->state() == QAbstractSocket::ConnectedState)
                             return;
                         peerGone(handle, error == QAbstractSocket::RemoteHostClosedError
                                              ? 0
                                              : statusFor(error, During::Read));
                     });
}

unsigned newHandle() {
    Client &c = client();
    while (c.nextHandle == 0 || c.conversations.count(c.nextHandle))
        ++c.nextHandle;
    return c.nextHandle++;
}

int checkConnect(const unsigned *conversationHandle, unsigned portNumber,
                 const char *serverHostName) {
    if (!conversationHandle || portNumber == 0 || portNumber > 65535 || !serverHostName ||
        !*serverHostName)
        return kTCP_InvalidParameter;
    if (!QCoreApplication::instance())
        return kTCP_NetworkSubsystemNotReady;
    if (client().conversations.size() >= kMaxConversations)
        return kTCP_TooManyConversations;
    return 0;
}

Conversation &adopt(QTcpSocket *socket, tcpFuncPtr callback, void *callbackData) {
    auto conv = std::make_unique<Conversation>();
    conv->handle = newHandle();
    conv->socket = socket;
    conv->callback = callback;
    conv->callbackData = callbackData;
    Conversation &c = *conv;
    client().conversations[c.handle] = std::move(conv);
    return c;
}

// The connection is made: from now on the conversation reads, writes and calls back.
void connected(Conversation &c) {
    c.connectState = 0;
    // Requests and replies are small; do not hold them back to fill a segment. (Qt forgets
    // options set before the connection exists.)
    c.socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    watch(c);
    if (c.socket->bytesAvailable() > 0)
        schedule(c);
}

} // namespace

int ConnectToTCPServer(unsigned *conversationHandle, unsigned portNumber,
                       const char *serverHostName, tcpFuncPtr callback, void *callbackData,
                       unsigned timeoutMs) {
    if (const int status = checkConnect(conversationHandle, portNumber, serverHostName))
        return status;
    auto socket = std::make_unique<QTcpSocket>(context());
    socket->connectToHost(QString::fromLocal8Bit(serverHostName), static_cast<quint16>(portNumber));
    const int ms = timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs);
    if (!socket->waitForConnected(ms))
        return statusFor(socket->error(), During::Connect);
    Conversation &c = adopt(socket.release(), callback, callbackData);
    connected(c);
    *conversationHandle = c.handle;
    return 0;
}

int StartConnectToTCPServer(unsigned *conversationHandle, unsigned portNumber,
                            const char *serverHostName, tcpFuncPtr callback, void *callbackData,
                            unsigned timeoutMs) {
    if (const int status = checkConnect(conversationHandle, portNumber, serverHostName))
        return status;
    Conversation &c = adopt(new QTcpSocket(context()), callback, callbackData);
    c.connectState = 1;
    const unsigned handle = c.handle;
    // Each ends the attempt once; whichever comes first decides.
    const auto failed = [handle](int status) {
        Conversation *conv = find(handle);
        if (!conv || conv->connectState != 1)
            return;
        conv->connectState = status;
        conv->socket->abort();
    };
    QObject::connect(c.socket, &QTcpSocket::connected, context(), [handle] {
        Conversation *conv = find(handle);
        if (conv && conv->connectState == 1)
            connected(*conv);
    });
    QObject::connect(c.socket, &QTcpSocket::errorOccurred, context(),
                     [failed](QAbstractSocket::SocketError error) {
                         failed(statusFor(error, During::Connect));
                     });
    const int ms = timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs);
    QTimer::singleShot(ms, c.socket, [failed] { failed(kTCP_TimeOutError); });
    c.socket->connectToHost(QString::fromLocal8Bit(serverHostName),
                            static_cast<quint16>(portNumber));
    *conversationHandle = handle;
    return 0;
}

int GetTCPConnectState(unsigned handle) {
    Conversation *c = find(handle);
    return c ? c->connectState : kTCP_NoConnectionEstablished;
}

int DisconnectFromTCPServer(unsigned handle) {
    auto &all = client().conversations;
    const auto it = all.find(handle);
    if (it == all.end())
        return kTCP_NoConnectionEstablished;
    // Out of the table first: nothing the closing socket signals can reach the program.
    std::unique_ptr<Conversation> gone = std::move(it->second);
    all.erase(it);
    return 0;
}

int ClientTCPWrite(unsigned handle, const void *data, int size, unsigned timeoutMs) {
    Conversation *c = find(handle);
    if (!c || c->connectState != 0)
        return kTCP_NoConnectionEstablished;
    if (size < 0 || (!data && size > 0))
        return kTCP_InvalidParameter;
    if (size == 0)
        return 0;
    QTcpSocket &s = *c->socket;
    if (c->peerClosed || s.state() != QAbstractSocket::ConnectedState)
        return kTCP_ConnectionClosed;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(static_cast<long long>(timeoutMs));
    const char *bytes = static_cast<const char *>(data);
    int sent = 0;
#ifdef Q_OS_UNIX
    // Nothing queued before it: straight to the socket. Qt's own path switches the write
    // notifier on and off again for every request, and each switch wakes the event loop.
    if (s.bytesToWrite() == 0) {
        ssize_t n;
        do
            n = ::send(static_cast<int>(s.socketDescriptor()), bytes, static_cast<size_t>(size),
                       MSG_NOSIGNAL | MSG_DONTWAIT);
        while (n < 0 && errno == EINTR);
        if (n == size)
            return size;
        if (n > 0)
            sent = static_cast<int>(n);
        // What did not go (a full send buffer, or a failure Qt is to report) takes Qt's path.
    }
#endif
    if (s.write(bytes + sent, size - sent) != size - sent)
        return statusFor(s.error(), During::Write);
    s.flush();
    while (s.bytesToWrite() > 0) {
        const int ms = msLeft(deadline);
        if (ms == 0)
            return kTCP_TimeOutError;
        const WaitScope waiting;
        // Qt's error is not reset between calls, so the state tells what happened.
        if (!s.waitForBytesWritten(ms) && s.state() != QAbstractSocket::ConnectedState)
            return kTCP_ConnectionClosed;
    }
    return size;
}

int ClientTCPRead(unsigned handle, void *buffer, int size, unsigned timeoutMs) {
    Conversation *c = find(handle);
    if (!c || c->connectState != 0)
        return kTCP_NoConnectionEstablished;
    if (!buffer || size <= 0)
        return kTCP_InvalidParameter;
    QTcpSocket &s = *c->socket;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(static_cast<long long>(timeoutMs));
    for (;;) {
        if (s.bytesAvailable() > 0) {
            const qint64 n = s.read(static_cast<char *>(buffer), size);
            if (n > 0) {
                c->bytesRead += static_cast<unsigned long long>(n);
                return static_cast<int>(n);
            }
            if (n < 0)
                return statusFor(s.error(), During::Read);
        }
        if (c->peerClosed || s.state() != QAbstractSocket::ConnectedState)
            return kTCP_ConnectionClosed;
        const int ms = msLeft(deadline);
        const WaitScope waiting;
        // Qt's error is not reset between calls, so the state tells what happened.
        if (!s.waitForReadyRead(ms) && s.bytesAvailable() == 0 &&
            s.state() == QAbstractSocket::ConnectedState && msLeft(deadline) == 0)
            return kTCP_TimeOutError;
    }
}

} // namespace qv::rt
