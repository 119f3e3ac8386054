#pragma once

// The few socket operations the TDS test server needs, behind a platform-neutral interface.
// Everything that includes an OS header lives in TdsSocket.cpp (POSIX); a Windows build swaps that file.
//
// Every blocking call also watches a StopSignal, so a server that is being destroyed never waits on a client.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace korvane::test::net {

// A one-way latch: once raised, every wait that watches it returns at once. Thread-safe.
class StopSignal {
public:
    StopSignal();                                   // throws SocketError
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void raise() noexcept;
    bool raised() const noexcept;
    // Sleeps for `duration` unless raised first; answers false when raised.
    bool sleepFor(std::chrono::milliseconds duration) const noexcept;

    std::intptr_t handle() const noexcept { return m_readEnd; }

private:
    std::intptr_t m_readEnd = -1;
    std::intptr_t m_writeEnd = -1;
    std::atomic<bool> m_raised{false};
};

struct SocketError {
    std::string what;   // operation and the system's reason
};

enum class IoStatus { Ok, Closed, Stopped, TimedOut };

struct ReceiveResult {
    IoStatus status;
    std::size_t bytes = 0;
};

// A connected TCP stream, move-only; the destructor closes it.
class Socket {
public:
    Socket() = default;
    explicit Socket(std::intptr_t handle) noexcept : m_handle(handle) {}
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool isOpen() const noexcept { return m_handle >= 0; }

    // Waits for at least one byte, the peer closing, the stop signal or the time-out (none: wait for good).
    // A reset by the peer counts as Closed.
    ReceiveResult receive(std::span<std::byte> buffer, const StopSignal& stop,
                          std::optional<std::chrono::milliseconds> timeout = std::nullopt) noexcept;
    // Sends everything; Closed when the peer went away, Stopped when the signal was raised first.
    IoStatus sendAll(std::span<const std::byte> data, const StopSignal& stop) noexcept;
    // Ends our direction of the stream so the peer reads the end after the data already sent, then closes.
    void shutdownAndClose() noexcept;
    void close() noexcept;

private:
    std::intptr_t m_handle = -1;
};

// A listening TCP socket on the loopback address, 127.0.0.1 or ::1.
class Listener {
public:
    explicit Listener(std::uint16_t port = 0, bool ipv6 = false);   // 0: an ephemeral port; throws SocketError
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    std::uint16_t port() const noexcept { return m_port; }
    // Waits for the next client; nullopt once the stop signal is raised.
    std::optional<Socket> accept(const StopSignal& stop);

private:
    std::intptr_t m_handle = -1;
    std::uint16_t m_port = 0;
};

} // namespace korvane::test::net
