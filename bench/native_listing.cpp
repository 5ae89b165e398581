// How close a folder listing comes to the bare cost of its exchanges.
//
// Two Protocol objects with POSIX hosts talk over a loopback TCP pair: one
// asks ("DD"), the other lists a folder of 1023 entries and sends one "DR"
// record per "ACK", then "DR999999" (1024 stop-and-wait exchanges). The
// same pair of sockets then makes 1024 bare exchanges of 3 bytes one way and
// 256 bytes the other. Prints both times and their ratio.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "core/protocol.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kEntries = 1023;  // "." and ".." included
constexpr int kExchanges = 1024;
constexpr int kRounds = 7;

class Latin1Codec : public quorbel::AnsiCodec {
public:
    std::string ToAnsi(quorbel::u16view text) const override {
        std::string out;
        for (char16_t c : text) out.push_back(c < 0x100 ? static_cast<char>(c) : '?');
        return out;
    }
    quorbel::u16 FromAnsi(std::string_view bytes) const override {
        quorbel::u16 out;
        for (unsigned char c : bytes) out.push_back(c);
        return out;
    }
};

class PosixHost : public quorbel::ProtocolHost {
public:
    int fd = -1;
    std::atomic<int> rows{0};
    std::atomic<int> boxes{0};

    int SendBytes(const char* data, std::size_t length) override {
        std::size_t sent = 0;
        while (sent < length) {
            ssize_t n = send(fd, data + sent, length - sent, 0);
            if (n <= 0) return 1;
            sent += static_cast<std::size_t>(n);
        }
        return 0;
    }
    void ShowMessage(quorbel::u16view, quorbel::u16view) override { ++boxes; }
    void RefreshStatusBar() override {}
    void ArmCloseTimer(uint32_t) override {}
    void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    void ClearRemotePane() override { rows = 0; }
    void InsertRemoteRow(int32_t, quorbel::u16view, quorbel::u16view, quorbel::u16view, int32_t, int32_t) override {
        ++rows;
    }
    void CreateFolder(quorbel::u16view) override {}
    int DriveTypeOf(quorbel::u16view) override { return 0; }
    bool ListFolder(quorbel::u16view folder,
                    const std::function<bool(const quorbel::FolderEntry&)>& visit) override {
        const std::string base = codec_.ToAnsi(folder);
        DIR* dir = opendir(base.c_str());
        if (!dir) return false;
        while (dirent* d = readdir(dir)) {
            quorbel::FolderEntry entry;
            entry.name = codec_.FromAnsi(d->d_name);
            struct stat st;
            const std::string full = base + "/" + d->d_name;
            if (stat(full.c_str(), &st) == 0) {
                entry.attributes = S_ISDIR(st.st_mode) ? quorbel::kAttrDirectory : quorbel::kAttrArchive;
                std::tm t;
                localtime_r(&st.st_mtime, &t);
                entry.lastWrite = {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min};
                entry.sizeOnDisk = static_cast<uint64_t>(st.st_size);
                entry.sizeKnown = true;
            }
            if (!visit(entry)) break;
        }
        closedir(dir);
        return true;
    }
    bool OpenTransferForRead(quorbel::u16view, uint64_t&) override { return false; }
    int32_t ReadTransfer(char*, int32_t) override { return -1; }
    bool GetTransferTimes(quorbel::FileTimes&) override { return false; }
    bool CreateTransferForWrite(quorbel::u16view) override { return false; }
    bool WriteTransfer(const char*, int32_t) override { return false; }
    bool SetTransferTimes(const quorbel::FileTimes&) override { return false; }
    void CloseTransfer() override {}
    bool RemoveFile(quorbel::u16view) override { return false; }
    bool RenameFile(quorbel::u16view, quorbel::u16view) override { return false; }
    const quorbel::AnsiCodec& Codec() const override { return codec_; }

private:
    Latin1Codec codec_;
};

// A connected loopback pair (listen, connect, accept).
void LoopbackPair(int& a, int& b) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    listen(listener, 1);
    a = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(a, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::perror("connect");
    b = accept(listener, nullptr, nullptr);
    close(listener);
}

std::string MakeFolder() {
    char pattern[] = "/tmp/qb_bench_XXXXXX";
    std::string folder = mkdtemp(pattern);
    for (int i = 0; i < kEntries - 2; ++i) {  // plus "." and ".."
        char name[64];
        std::snprintf(name, sizeof name, "/file_%04d_with_a_longer_name.txt", i);
        FILE* f = std::fopen((folder + name).c_str(), "wb");
        std::fprintf(f, "%d", i);
        std::fclose(f);
    }
    return folder;
}

void RemoveFolder(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    while (dirent* d = readdir(dir))
        if (d->d_name[0] != '.') unlink((folder + "/" + d->d_name).c_str());
    closedir(dir);
    rmdir(folder.c_str());
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main() {
    const std::string folder = MakeFolder();
    int askerFd = -1, serverFd = -1;
    LoopbackPair(askerFd, serverFd);

    PosixHost askerHost, serverHost;
    askerHost.fd = askerFd;
    serverHost.fd = serverFd;
    quorbel::Protocol asker(askerHost), server(serverHost);
    Latin1Codec codec;
    asker.SetRemoteFolderPath(codec.FromAnsi(folder));

    std::vector<double> listing, tableBuild, bare;
    for (int round = 0; round < kRounds; ++round) {
        // Listing through both protocol objects.
        std::thread serving([&] {
            char buffer[quorbel::kRecvBufferBytes];
            // The request, then every ACK, until the end record has gone out.
            for (;;) {
                ssize_t n = recv(serverFd, buffer, quorbel::kMaxMessageBytes, 0);
                if (n <= 0) return;
                server.Receive(buffer, static_cast<int32_t>(n));
                if (server.state.operationState.load() == quorbel::Waiting) return;
            }
        });
        const auto start = Clock::now();
        asker.StartListing();
        char buffer[quorbel::kRecvBufferBytes];
        bool first = true;
        while (asker.state.operationState.load() != quorbel::Waiting) {
            ssize_t n = recv(askerFd, buffer, quorbel::kMaxMessageBytes, 0);
            if (n <= 0) break;
            if (first) {
                tableBuild.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                first = false;
            }
            asker.Receive(buffer, static_cast<int32_t>(n));
        }
        listing.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        serving.join();
        if (askerHost.rows != kEntries || server.state.dirCount.load() != kExchanges) {
            std::fprintf(stderr, "listing gave %d rows, %d records\n", askerHost.rows.load(),
                         server.state.dirCount.load());
            return 1;
        }

        // Bare exchanges on the same sockets: 3 bytes there, 256 back.
        std::thread echo([&] {
            char in[8], out[256];
            std::memset(out, 'r', sizeof out);
            for (int i = 0; i < kExchanges; ++i) {
                if (recv(serverFd, in, 3, MSG_WAITALL) != 3) return;
                send(serverFd, out, sizeof out, 0);
            }
        });
        const auto bareStart = Clock::now();
        char reply[256];
        for (int i = 0; i < kExchanges; ++i) {
            send(askerFd, "ACK", 3, 0);
            if (recv(askerFd, reply, sizeof reply, MSG_WAITALL) != 256) break;
        }
        bare.push_back(std::chrono::duration<double, std::milli>(Clock::now() - bareStart).count());
        echo.join();
    }

    const double l = Median(listing), t = Median(tableBuild), b = Median(bare);
    std::printf("native: listing of %d entries (%d exchanges): %.2f ms (table built in %.2f ms)\n", kEntries,
                kExchanges, l, t);
    std::printf("native: %d bare 3/256-byte exchanges: %.2f ms\n", kExchanges, b);
    std::printf("native: ratio listing / bare = %.2f (exchanges alone %.2f)\n", l / b, (l - t) / b);
    close(askerFd);
    close(serverFd);
    RemoveFolder(folder);
    return 0;
}
