// The datagram sender every engine uses for every datagram it sends, and the
// small socket helpers around it.
//
// SendTo keeps no state and takes no lock; several threads call it at once
// and the socket layer serialises the sends. Callers use these waits: data
// packets 2500 ms, acknowledgements 1000 ms, a one-packet refusal 10 ms.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

inline constexpr uint32_t kPacketSendWaitMs = 2500;
inline constexpr uint32_t kAckSendWaitMs = 1000;

class ZTUDP {
  public:
    static constexpr int32_t kFailed = -1;       // the wait or the send failed
    static constexpr int32_t kNotWritable = -2;  // not writable within waitMs

    // Waits at most waitMs for the socket to become writable, then sends
    // length bytes as one datagram to (address, port), both in network order.
    // Answers the number of bytes sent, kFailed or kNotWritable.
    [[nodiscard]] int32_t SendTo(int socket, uint32_t addressRaw, uint16_t portRaw, uint32_t waitMs,
                                 const void* data, size_t length) const;
};

// Opens an IPv4 UDP socket bound to (address, port), both in network order
// (0 = any). Answers the descriptor, or -1 with errno set.
int OpenUdpSocket(uint32_t addressRaw, uint16_t portRaw);

// The bound port of a socket in network order, 0 when it cannot be read.
uint16_t BoundPortRaw(int socket);

// Sets SO_RCVBUF / SO_SNDBUF to bytes rounded down to a multiple of unit
// (1024 for data sockets, 28 for acknowledgement sockets); true on success.
bool SetReceiveBuffer(int socket, uint32_t bytes, uint32_t unit);
bool SetSendBuffer(int socket, uint32_t bytes, uint32_t unit);

// The loopback address 127.0.0.1 in network order.
uint32_t LoopbackAddressRaw();

// A descriptor closed when the holder goes away.
class SocketHandle {
  public:
    SocketHandle() = default;
    explicit SocketHandle(int fd) : fd_(fd) {}
    ~SocketHandle() { Close(); }
    SocketHandle(SocketHandle&& other) noexcept : fd_(other.Release()) {}
    SocketHandle& operator=(SocketHandle&& other) noexcept;
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Close();

  private:
    int fd_ = -1;
};

}  // namespace velmora
