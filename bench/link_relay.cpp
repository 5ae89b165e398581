// An emulated network link between two programs on this machine: it accepts
// TCP connections on a loopback port, one after the other, and carries each
// to a target port with a set bandwidth and round-trip time in each
// direction. Every direction is a token bucket (the link sends at its rate,
// never faster) ahead of a delay queue (what left arrives half a round trip
// later); what the queue holds is bounded, so a sender that outruns the
// link is held back as by a full router queue.
//
//   link_relay TARGET_PORT MEGABITS_PER_SECOND ROUND_TRIP_MS
// prints "port N" on its standard output once it listens, and runs until
// it is killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "peer_bench_support.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Link {
    double bytesPerSecond;
    Clock::duration oneWay;
    std::size_t queueBytes;  // the most a direction holds in flight
};

// One direction of one connection.
class Direction {
public:
    Direction(const Link& link, int from, int to) : link_(link), from_(from), to_(to) {}

    void Run() {
        std::thread writer([this] { Deliver(); });
        Take();
        writer.join();
    }

private:
    struct Chunk {
        Clock::time_point due;
        std::vector<char> bytes;  // empty: the end of the stream
    };

    // Reads what the sender gives while the queue has room, and stamps each
    // piece with the time it reaches the other end.
    void Take() {
        constexpr std::size_t kPiece = 16 * 1024;
        Clock::time_point linkFree = Clock::now();
        for (;;) {
            {
                std::unique_lock<std::mutex> hold(lock_);
                room_.wait(hold, [&] { return queued_ + kPiece <= link_.queueBytes || broken_; });
                if (broken_) break;
            }
            std::vector<char> piece(kPiece);
            const ssize_t n = ::recv(from_, piece.data(), piece.size(), 0);
            const Clock::time_point now = Clock::now();
            piece.resize(n > 0 ? std::size_t(n) : 0);
            if (linkFree < now) linkFree = now;
            linkFree += std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(double(piece.size()) / link_.bytesPerSecond));
            std::lock_guard<std::mutex> hold(lock_);
            queued_ += piece.size();
            const bool end = piece.empty();
            queue_.push_back({linkFree + link_.oneWay, std::move(piece)});
            ready_.notify_one();
            if (end) break;
        }
    }

    // Sends each piece when it is due; the end of the stream as a shutdown.
    void Deliver() {
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock<std::mutex> hold(lock_);
                ready_.wait(hold, [&] { return !queue_.empty(); });
                chunk = std::move(queue_.front());
                queue_.pop_front();
            }
            std::this_thread::sleep_until(chunk.due);
            bool sent = !chunk.bytes.empty();
            for (std::size_t at = 0; sent && at < chunk.bytes.size();) {
                const ssize_t n = ::send(to_, chunk.bytes.data() + at, chunk.bytes.size() - at, MSG_NOSIGNAL);
                sent = n > 0;
                at += sent ? std::size_t(n) : 0;
            }
            std::lock_guard<std::mutex> hold(lock_);
            queued_ -= chunk.bytes.size();
            room_.notify_one();
            if (!sent) {
                ::shutdown(to_, SHUT_WR);
                ::shutdown(from_, SHUT_RD);
                broken_ = true;
                return;
            }
        }
    }

    const Link link_;
    const int from_, to_;
    std::mutex lock_;
    std::condition_variable ready_, room_;
    std::deque<Chunk> queue_;
    std::size_t queued_ = 0;
    bool broken_ = false;
};


}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: link_relay TARGET_PORT MEGABITS_PER_SECOND ROUND_TRIP_MS\n");
        return 2;
    }
    const int target = std::atoi(argv[1]);
    const double megabits = std::atof(argv[2]), roundTripMs = std::atof(argv[3]);
    if (target <= 0 || target > 65535 || megabits <= 0 || roundTripMs < 0) return 2;
    Link link;
    link.bytesPerSecond = megabits * 1e6 / 8;
    link.oneWay = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(roundTripMs / 2000));
    // Twice what the link holds in a round trip, and never less than 1 MB:
    // room for a window's worth, as a router's queue has.
    link.queueBytes = std::max<std::size_t>(std::size_t(2 * link.bytesPerSecond * roundTripMs / 1000), 1 << 20);

    ::signal(SIGPIPE, SIG_IGN);
    int port = 0;
    const int listener = bench::ListenOnLoopback(4, &port);
    std::printf("port %d\n", port);
    std::fflush(stdout);
    for (;;) {
        const int near = ::accept(listener, nullptr, nullptr);
        if (near < 0) continue;
        const int far = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(uint16_t(target));
        if (::connect(far, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            ::close(near);
            ::close(far);
            continue;
        }
        // The relay's own sockets add no delay of their own: what the link
        // holds back is the link's doing.
        const int one = 1;
        ::setsockopt(near, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(far, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Direction up(link, near, far), down(link, far, near);
        std::thread upThread([&] { up.Run(); });
        down.Run();
        upThread.join();
        ::close(near);
        ::close(far);
    }
}
