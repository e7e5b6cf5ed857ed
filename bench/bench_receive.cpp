// SPDX-License-Identifier: GPL-3.0-or-later
// Pushes framed notifications through the lobby connection's receive path over loopback and
// prints packets per second, bytes per second and heap allocations per packet on the receiving
// thread once the buffer pool has warmed up.
#include "protocol/protocolsocket.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtEndian>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <thread>
#include <vector>

namespace
{
std::atomic<long> allocations{0};
thread_local bool countAllocations = false;
} // namespace

void* operator new(std::size_t size)
{
    if (countAllocations)
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace
{

constexpr long totalPackets = 1000000;
constexpr long warmUpPackets = 100000;

void appendU32(std::vector<char>& out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.insert(out.end(), bytes, bytes + 4);
}

// One block of notifications with payloads of 9 to 300 bytes, sent over and over.
std::vector<char> notificationBlock(long& packets, long& bytes)
{
    std::mt19937 random(42);
    std::uniform_int_distribution<int> size(9, 300);
    std::vector<char> block;
    packets = 0;
    bytes = 0;
    for (int i = 0; i < 4000; ++i) {
        const int payload = size(random);
        appendU32(block, quint32(payload));
        block.push_back(1); // notification
        appendU32(block, 2);
        block.insert(block.end(), size_t(payload - 5), 'n');
        ++packets;
        bytes += 4 + payload;
    }
    return block;
}

void serve(int listener, const std::vector<char>& block, long rounds)
{
    const int peer = accept(listener, nullptr, nullptr);
    char hello[12];
    for (size_t got = 0; got < sizeof hello;) {
        const ssize_t n = recv(peer, hello + got, sizeof hello - got, 0);
        if (n <= 0)
            return;
        got += size_t(n);
    }
    std::vector<char> pass;
    appendU32(pass, 4);
    appendU32(pass, 0);
    send(peer, pass.data(), pass.size(), MSG_NOSIGNAL);
    for (long r = 0; r < rounds; ++r) {
        for (size_t sent = 0; sent < block.size();) {
            const ssize_t n = send(peer, block.data() + sent, block.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += size_t(n);
        }
    }
    close(peer);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);

    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("listen on 127.0.0.1");
        return 1;
    }
    qputenv("TILEPARLOR_LOBBY_HOST", "127.0.0.1");
    qputenv("TILEPARLOR_LOBBY_PORT", QByteArray::number(ntohs(address.sin_port)));

    long blockPackets = 0, blockBytes = 0;
    const std::vector<char> block = notificationBlock(blockPackets, blockBytes);
    const long rounds = totalPackets / blockPackets;
    std::thread server(serve, listener, std::cref(block), rounds);

    ProtocolSocket socket(nullptr);
    long received = 0;
    long passes = 0;
    long steadyAllocations = 0;
    QElapsedTimer clock;
    QObject::connect(&socket, &ProtocolSocket::connected, [&] { clock.start(); });
    QObject::connect(&socket, &ProtocolSocket::recvNotify, [&] {
        ++passes;
        while (socket.prepareRecvNotify(false)) {
            socket.readUInt32();
            socket.releaseRecvBuffer();
            if (++received == warmUpPackets)
                steadyAllocations = allocations.load();
        }
        if (received == rounds * blockPackets)
            app.quit();
    });
    QObject::connect(&socket, &ProtocolSocket::close, [&] { app.quit(); });

    countAllocations = true;
    socket.connectToServer();
    app.exec();
    countAllocations = false;
    const double seconds = clock.nsecsElapsed() / 1e9;
    server.join();
    close(listener);

    const long steadyPackets = received - warmUpPackets;
    std::printf("packets received         %ld\n", received);
    std::printf("packets per second       %.0f\n", received / seconds);
    std::printf("megabytes per second     %.1f\n", rounds * blockBytes / seconds / 1e6);
    std::printf("read passes              %ld (%.1f packets each)\n", passes,
                double(received) / double(passes ? passes : 1));
    std::printf("allocations per packet   %.4f (after %ld warm-up packets)\n",
                steadyPackets > 0 ? double(allocations.load() - steadyAllocations) / steadyPackets
                                  : 0.0,
                warmUpPackets);
    return received == rounds * blockPackets ? 0 : 1;
}
