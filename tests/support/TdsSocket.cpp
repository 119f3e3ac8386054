// POSIX sockets for the TDS test server. The only file of the test server that includes OS headers.

#include "tests/support/TdsSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace korvane::test::net {

namespace {

std::string systemReason(const char* operation)
{
    return std::string(operation) + ": " + std::strerror(errno);
}

int fd(std::intptr_t handle) noexcept
{
    return static_cast<int>(handle);
}

// Polls `handle` for `events` and the stop signal; -1 waits for good.
// Answers Ok when `handle` is ready (or in error, which the following call reports).
IoStatus waitFor(int handle, short events, const StopSignal& stop, int timeoutMs) noexcept
{
    pollfd fds[2] = {{handle, events, 0}, {fd(stop.handle()), POLLIN, 0}};
    for (;;) {
        if (stop.raised())
            return IoStatus::Stopped;
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return IoStatus::Closed;
        if (ready == 0)
            return IoStatus::TimedOut;
        if (fds[1].revents != 0)
            return IoStatus::Stopped;
        return IoStatus::Ok;
    }
}

} // namespace

StopSignal::StopSignal()
{
    int ends[2];
    if (::pipe(ends) != 0)
        throw SocketError{systemReason("pipe")};
    m_readEnd = ends[0];
    m_writeEnd = ends[1];
}

StopSignal::~StopSignal()
{
    ::close(fd(m_readEnd));
    ::close(fd(m_writeEnd));
}

void StopSignal::raise() noexcept
{
    if (m_raised.exchange(true))
        return;
    // Never read: the pipe stays readable, which is what every poll on it waits for.
    const char byte = 1;
    while (::write(fd(m_writeEnd), &byte, 1) < 0 && errno == EINTR) {
    }
}

bool StopSignal::raised() const noexcept
{
    return m_raised.load();
}

bool StopSignal::sleepFor(std::chrono::milliseconds duration) const noexcept
{
    const auto deadline = std::chrono::steady_clock::now() + duration;
    for (;;) {
        if (raised())
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return true;
        pollfd pfd{fd(m_readEnd), POLLIN, 0};
        ::poll(&pfd, 1, static_cast<int>(left.count()));
    }
}

Socket::~Socket()
{
    close();
}

Socket::Socket(Socket&& other) noexcept : m_handle(std::exchange(other.m_handle, -1)) {}

Socket& Socket::operator=(Socket&& other) noexcept
{
    if (this != &other) {
        close();
        m_handle = std::exchange(other.m_handle, -1);
    }
    return *this;
}

ReceiveResult Socket::receive(std::span<std::byte> buffer, const StopSignal& stop,
                              std::optional<std::chrono::milliseconds> timeout) noexcept
{
    const int timeoutMs = timeout ? static_cast<int>(timeout->count()) : -1;
    const IoStatus ready = waitFor(fd(m_handle), POLLIN, stop, timeoutMs);
    if (ready != IoStatus::Ok)
        return {ready};
    for (;;) {
        const ssize_t got = ::recv(fd(m_handle), buffer.data(), buffer.size(), 0);
        if (got > 0)
            return {IoStatus::Ok, static_cast<std::size_t>(got)};
        if (got < 0 && errno == EINTR)
            continue;
        return {IoStatus::Closed};
    }
}

IoStatus Socket::sendAll(std::span<const std::byte> data, const StopSignal& stop) noexcept
{
    while (!data.empty()) {
        const IoStatus ready = waitFor(fd(m_handle), POLLOUT, stop, -1);
        if (ready != IoStatus::Ok)
            return ready;
        const ssize_t sent = ::send(fd(m_handle), data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (sent < 0)
            return IoStatus::Closed;
        data = data.subspan(static_cast<std::size_t>(sent));
    }
    return IoStatus::Ok;
}

void Socket::shutdownAndClose() noexcept
{
    if (m_handle >= 0)
        ::shutdown(fd(m_handle), SHUT_WR);
    close();
}

void Socket::close() noexcept
{
    if (m_handle >= 0)
        ::close(fd(std::exchange(m_handle, -1)));
}

Listener::Listener(std::uint16_t port, bool ipv6)
{
    const int handle = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (handle < 0)
        throw SocketError{systemReason("socket")};
    m_handle = handle;
    const int on = 1;
    ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

    sockaddr_storage address{};
    socklen_t length = 0;
    if (ipv6) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        v6.sin6_addr = in6addr_loopback;
        ::setsockopt(handle, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        length = sizeof v6;
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof v4;
    }
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(handle, 16) != 0) {
        SocketError error{systemReason(ipv6 ? "bind/listen on ::1" : "bind/listen on 127.0.0.1")};
        ::close(handle);
        throw error;
    }
    if (::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        SocketError error{systemReason("getsockname")};
        ::close(handle);
        throw error;
    }
    m_port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                       : reinterpret_cast<sockaddr_in&>(address).sin_port);
}

Listener::~Listener()
{
    ::close(fd(m_handle));
}

std::optional<Socket> Listener::accept(const StopSignal& stop)
{
    for (;;) {
        if (waitFor(fd(m_handle), POLLIN, stop, -1) != IoStatus::Ok)
            return std::nullopt;
        const int client = ::accept(fd(m_handle), nullptr, nullptr);
        if (client < 0)
            continue;   // the client gave up between poll and accept, or a signal interrupted us
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::fcntl(client, F_SETFD, FD_CLOEXEC);
        return Socket(client);
    }
}

} // namespace korvane::test::net
