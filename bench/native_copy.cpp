// Copy benchmark of the protocol core: a file of 20 MB goes through two
// Protocol objects joined by a loopback TCP connection, once in each
// direction ("FR" blocks to the peer, "FB" blocks from it), and the time is
// set against the same number of bare 1008-byte / 3-byte ping-pongs over the
// same kind of connection. Prints the times, their ratio and the peak memory.
//
//   native_copy [megabytes=20] [rounds=7]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/protocol.h"

using namespace quorbel;

namespace {

// Paths here are ASCII; the code page is Latin-1.
class Latin1Codec : public AnsiCodec {
public:
    std::string ToAnsi(u16view text) const override {
        std::string out;
        for (char16_t c : text) out.push_back(c < 0x100 ? static_cast<char>(c) : '?');
        return out;
    }
    u16 FromAnsi(std::string_view bytes) const override {
        u16 out;
        for (unsigned char b : bytes) out.push_back(b);
        return out;
    }
};

std::string Narrow(u16view s) { return Latin1Codec().ToAnsi(s); }

// FILETIME (100 ns since 1601) <-> timespec.
constexpr uint64_t kEpochDifference = 116444736000000000ULL;
uint64_t ToFileTime(const timespec& t) {
    return kEpochDifference + uint64_t(t.tv_sec) * 10000000ULL + uint64_t(t.tv_nsec) / 100;
}
timespec FromFileTime(uint64_t ft) {
    timespec t{};
    uint64_t v = ft > kEpochDifference ? ft - kEpochDifference : 0;
    t.tv_sec = static_cast<time_t>(v / 10000000ULL);
    t.tv_nsec = static_cast<long>((v % 10000000ULL) * 100);
    return t;
}

// A ProtocolHost on POSIX sockets and files, as thin as the Win32 one.
class PosixHost : public ProtocolHost {
public:
    int socket = -1;
    // Wakes the benchmark's main thread at every state change, so that it
    // does not poll (and take a CPU from the two sides).
    std::mutex* changeLock = nullptr;
    std::condition_variable* changed = nullptr;
    // Files in memory: the sent file is a generated stream of memorySize
    // bytes, the received one is only counted and summed. Isolates the
    // protocol's own cost from the file system's.
    bool memoryFiles = false;
    uint64_t memorySize = 0;
    uint64_t received = 0;
    bool receivedIntact = true;

    int SendBytes(const char* data, std::size_t length) override {
        std::size_t done = 0;
        while (done < length) {
            ssize_t n = ::send(socket, data + done, length - done, MSG_NOSIGNAL);
            if (n <= 0) return errno ? errno : -1;
            done += static_cast<std::size_t>(n);
        }
        return 0;
    }
    void ShowMessage(u16view text, u16view caption) override {
        std::fprintf(stderr, "box %s: %s\n", Narrow(caption).c_str(), Narrow(text).c_str());
    }
    void RefreshStatusBar() override {
        std::lock_guard<std::mutex> guard(*changeLock);
        changed->notify_all();
    }
    void ArmCloseTimer(uint32_t) override {}
    void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    void ClearRemotePane() override {}
    void InsertRemoteRow(int32_t, u16view, u16view, u16view, int32_t, int32_t) override {}
    void CreateFolder(u16view path) override { ::mkdir(Narrow(path).c_str(), 0777); }
    int DriveTypeOf(u16view) override { return kDriveNoRootDir; }
    bool ListFolder(u16view, const std::function<bool(const FolderEntry&)>&) override { return false; }

    bool OpenTransferForRead(u16view path, uint64_t& size) override {
        if (memoryFiles) {
            size = memorySize;
            position_ = 0;
            return true;
        }
        if (fd_ >= 0) return false;
        fd_ = ::open(Narrow(path).c_str(), O_RDONLY | O_CREAT, 0644);
        if (fd_ < 0) return false;
        struct stat st{};
        ::fstat(fd_, &st);
        size = static_cast<uint64_t>(st.st_size);
        return true;
    }
    int32_t ReadTransfer(char* buffer, int32_t maxBytes) override {
        if (memoryFiles) {
            const std::string& p = Pattern();
            int32_t n = 0;
            while (n < maxBytes && position_ < memorySize) {
                size_t at = static_cast<size_t>(position_ % p.size());
                size_t take = std::min<size_t>({p.size() - at, size_t(maxBytes - n), size_t(memorySize - position_)});
                std::memcpy(buffer + n, p.data() + at, take);
                n += static_cast<int32_t>(take);
                position_ += take;
            }
            return n;
        }
        ssize_t n = ::read(fd_, buffer, static_cast<size_t>(maxBytes));
        return n < 0 ? -1 : static_cast<int32_t>(n);
    }
    bool GetTransferTimes(FileTimes& times) override {
        if (memoryFiles) return false;
        struct stat st{};
        if (::fstat(fd_, &st) != 0) return false;
        times.creation = ToFileTime(st.st_ctim);
        times.lastAccess = ToFileTime(st.st_atim);
        times.lastWrite = ToFileTime(st.st_mtim);
        return true;
    }
    bool CreateTransferForWrite(u16view path) override {
        if (memoryFiles) {
            received = 0;
            receivedIntact = true;
            return true;
        }
        if (fd_ >= 0) return false;
        fd_ = ::open(Narrow(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        return fd_ >= 0;
    }
    bool WriteTransfer(const char* data, int32_t length) override {
        if (memoryFiles) {
            const std::string& p = Pattern();
            for (int32_t done = 0; done < length;) {
                size_t at = static_cast<size_t>(received % p.size());
                size_t take = std::min<size_t>(p.size() - at, size_t(length - done));
                receivedIntact = receivedIntact && std::memcmp(data + done, p.data() + at, take) == 0;
                done += static_cast<int32_t>(take);
                received += take;
            }
            return true;
        }
        return ::write(fd_, data, static_cast<size_t>(length)) == length;
    }
    bool SetTransferTimes(const FileTimes& times) override {
        if (memoryFiles) return true;
        timespec t[2] = {FromFileTime(times.lastAccess), FromFileTime(times.lastWrite)};
        return ::futimens(fd_, t) == 0;
    }
    void CloseTransfer() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool RemoveFile(u16view path) override {
        if (memoryFiles) return true;
        return ::unlink(Narrow(path).c_str()) == 0; }
    bool RenameFile(u16view from, u16view to) override {
        if (memoryFiles) return true;
        return ::rename(Narrow(from).c_str(), Narrow(to).c_str()) == 0;
    }
    const AnsiCodec& Codec() const override { return codec_; }

    // The generated file repeats this block of random bytes (65,537 bytes,
    // so that block boundaries fall everywhere in it).
    static const std::string& Pattern() {
        static const std::string pattern = [] {
            std::string p(65537, '\0');
            std::mt19937_64 random(7);
            for (auto& c : p) c = static_cast<char>(random());
            return p;
        }();
        return pattern;
    }

private:
    int fd_ = -1;
    uint64_t position_ = 0;
    Latin1Codec codec_;
};

void NoDelay(int s) {
    int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// A connected pair of loopback TCP sockets.
bool LoopbackPair(int& a, int& b) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return false;
    a = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
    b = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    NoDelay(a);
    NoDelay(b);
    return b >= 0;
}

// One side: a host, its protocol, and a receive thread that hands every recv
// of at most 1024 bytes to the dispatcher, as the program's receive thread.
struct Side {
    PosixHost host;
    Protocol protocol{host};
    std::thread reader;

    void Run(int s) {
        host.socket = s;
        reader = std::thread([this, s] {
            char buf[kMaxMessageBytes];
            for (;;) {
                ssize_t n = ::recv(s, buf, sizeof buf, 0);
                if (n <= 0) break;
                protocol.Receive(buf, static_cast<int32_t>(n));
            }
            protocol.OnConnectionLost();
        });
    }
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Whether two files hold the same bytes (read in chunks: the benchmark's
// peak memory is that of the copy, not of the check).
bool SameContent(const std::string& a, const std::string& b) {
    FILE* fa = std::fopen(a.c_str(), "rb");
    FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa && fb;
    static char ba[65536], bb[65536];
    while (same) {
        size_t na = std::fread(ba, 1, sizeof ba, fa);
        size_t nb = std::fread(bb, 1, sizeof bb, fb);
        same = na == nb && std::memcmp(ba, bb, na) == 0;
        if (na == 0) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

u16 Wide(const std::string& s) { return Latin1Codec().FromAnsi(s); }

// Copies `source` to `destination` through two connected sides: toPeer runs
// "FD"/"FR" from a to b, otherwise "FC"/"FB" with b serving the request.
double CopyOnce(const std::string& source, const std::string& destination, bool toPeer,
                uint64_t memorySize = 0, bool* memoryOk = nullptr) {
    int sa, sb;
    if (!LoopbackPair(sa, sb)) {
        std::perror("loopback");
        std::exit(1);
    }
    std::mutex lock;
    std::condition_variable changed;
    auto a = std::make_unique<Side>();
    auto b = std::make_unique<Side>();
    for (Side* side : {a.get(), b.get()}) {
        side->host.changeLock = &lock;
        side->host.changed = &changed;
        side->host.memoryFiles = memorySize > 0;
        side->host.memorySize = memorySize;
    }
    b->protocol.state.serverMode = 1;
    a->Run(sa);
    b->Run(sb);
    ::unlink(destination.c_str());
    auto start = std::chrono::steady_clock::now();
    int r = toPeer ? a->protocol.StartCopyTo(Wide(source), Wide(destination))
                   : a->protocol.StartCopyFrom(Wide(source), Wide(destination));
    if (r != 0) {
        std::fprintf(stderr, "start failed: %d\n", r);
        std::exit(1);
    }
    // Done when both sides are back to Waiting: the receiver renames the
    // file before it turns to Waiting.
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] {
            return a->protocol.state.operationState.load() == Waiting &&
                   b->protocol.state.operationState.load() == Waiting;
        });
    }
    double t = Seconds(start);
    if (memoryOk) {
        const PosixHost& receiver = toPeer ? b->host : a->host;
        *memoryOk = receiver.received == memorySize && receiver.receivedIntact;
    }
    ::shutdown(sa, SHUT_RDWR);
    ::shutdown(sb, SHUT_RDWR);
    a->reader.join();
    b->reader.join();
    ::close(sa);
    ::close(sb);
    return t;
}

bool ReceiveExactly(int s, char* buf, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::recv(s, buf + got, n - got, 0);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

// `exchanges` round trips of a 1008-byte message answered by 3 bytes.
double BarePingPong(long exchanges) {
    int sa, sb;
    if (!LoopbackPair(sa, sb)) std::exit(1);
    std::thread echo([sb, exchanges] {
        char buf[1008];
        for (long i = 0; i < exchanges; ++i) {
            if (!ReceiveExactly(sb, buf, sizeof buf)) return;
            if (::send(sb, "ACK", 3, MSG_NOSIGNAL) != 3) return;
        }
    });
    char block[1008];
    std::memset(block, 'x', sizeof block);
    char ack[3];
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < exchanges; ++i) {
        if (::send(sa, block, sizeof block, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof block)) break;
        if (!ReceiveExactly(sa, ack, sizeof ack)) break;
    }
    double t = Seconds(start);
    echo.join();
    ::close(sa);
    ::close(sb);
    return t;
}

double Best(const std::vector<double>& v) {
    double b = v.front();
    for (double x : v) b = x < b ? x : b;
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    const long megabytes = argc > 1 ? std::atol(argv[1]) : 20;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    const long bytes = megabytes * 1000 * 1000;

    char folderTemplate[] = "/tmp/quorbel_bench_XXXXXX";
    const char* folder = ::mkdtemp(folderTemplate);
    if (!folder) return 1;
    const std::string source = std::string(folder) + "/source.bin";
    const std::string toPeer = std::string(folder) + "/to_peer.bin";
    const std::string fromPeer = std::string(folder) + "/from_peer.bin";
    {
        std::mt19937_64 random(42);
        FILE* f = std::fopen(source.c_str(), "wb");
        static char chunk[65536];
        for (long left = bytes; left > 0;) {
            for (auto& c : chunk) c = static_cast<char>(random());
            size_t n = left < static_cast<long>(sizeof chunk) ? static_cast<size_t>(left) : sizeof chunk;
            std::fwrite(chunk, 1, n, f);
            left -= static_cast<long>(n);
        }
        std::fclose(f);
    }
    // Data blocks plus the request and its answer; the end record is not answered.
    const long exchanges = static_cast<long>(BlockCountForSize(static_cast<uint64_t>(bytes))) + 1;

    std::vector<double> to, from, bare, memTo, memFrom;
    bool memoryOk = true;
    for (int i = 0; i < rounds; ++i) {
        to.push_back(CopyOnce(source, toPeer, true));
        from.push_back(CopyOnce(source, fromPeer, false));
        bare.push_back(BarePingPong(exchanges));
    }
    const bool same = SameContent(source, toPeer) && SameContent(source, fromPeer);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    for (int i = 0; i < rounds; ++i) {
        bool ok = false;
        memTo.push_back(CopyOnce("mem-source", "mem-dest", true, static_cast<uint64_t>(bytes), &ok));
        memoryOk = memoryOk && ok;
        memFrom.push_back(CopyOnce("mem-source", "mem-dest", false, static_cast<uint64_t>(bytes), &ok));
        memoryOk = memoryOk && ok;
    }
    std::printf("file: %ld bytes, %ld exchanges, best of %d rounds\n", bytes, exchanges, rounds);
    std::printf("bare ping-pong:     %.3f s (%.1f us per exchange)\n", Best(bare), Best(bare) * 1e6 / exchanges);
    std::printf("copy to the peer:   %.3f s  ratio %.3f\n", Best(to), Best(to) / Best(bare));
    std::printf("copy from the peer: %.3f s  ratio %.3f\n", Best(from), Best(from) / Best(bare));
    std::printf("copies identical:   %s\n", same ? "yes" : "NO");
    std::printf("core alone, files in memory: to %.3f s (ratio %.3f), from %.3f s (ratio %.3f), %s\n",
                Best(memTo), Best(memTo) / Best(bare), Best(memFrom), Best(memFrom) / Best(bare),
                memoryOk ? "bytes intact" : "BYTES DIFFER");
    std::printf("peak memory of the file copies (both sides in one process): %ld KiB\n", usage.ru_maxrss);

    ::unlink(source.c_str());
    ::unlink(toPeer.c_str());
    ::unlink(fromPeer.c_str());
    ::rmdir(folder);
    return same && memoryOk ? 0 : 1;
}
