// A whole responder fed an arbitrary byte stream over a real TCP connection
// on 127.0.0.1. Whatever arrives, once the peer has gone the responder is
// back in Listening, nothing was written outside its destination folder, no
// temporary file is left and an older file survives unless overwriting is on.
//
// Input: a flags byte (bit 0: the receiver may overwrite), then the bytes the
// peer sends, after which it closes its side and reads until the responder
// has closed the connection.

#include "engine.h"
#include "fuzz_check.h"
#include "received_file.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kOldName = "keep.txt";
const std::string kOldContent = "an older file that must survive";

struct Fixture {
    Fixture() : engine(events, config()) {
        std::string pattern = (fs::temp_directory_path() / "zapfer-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        root = pattern;
        dest = root / "dest";
        fs::create_directory(dest);
        std::ofstream(root / "outside.txt") << "outside";
        engine.selectCommType(zapfer::CommType::Lan, false);
        engine.start();
    }
    ~Fixture() {
        engine.stop();
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    static zapfer::LinkConfig config() {
        zapfer::LinkConfig c;
        c.listenPort = 0;
        c.echoPort = 0;
        c.listenAddress = INADDR_LOOPBACK;
        return c;
    }
    void prepare(bool overwrite) {
        for (const auto& entry : fs::directory_iterator(dest))
            if (entry.path().filename() != kOldName)
                fs::remove_all(entry.path());
        std::ofstream(dest / kOldName, std::ios::trunc) << kOldContent;
        zapfer::EngineSettings settings;
        settings.destDir = dest.string();
        settings.nameConflict =
            overwrite ? zapfer::NameConflict::Replace : zapfer::NameConflict::Refuse;
        engine.setSettings(settings);
    }

    zapfer::NullEngineEvents events;
    zapfer::Engine engine;
    fs::path root;
    fs::path dest;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// Sends `data` while draining the replies, closes the sending side and reads
// until the responder closes. False when the responder never closed.
bool converse(uint16_t port, const uint8_t* data, size_t size) {
    zapfer::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return false;
    size_t sent = 0;
    bool writing = true;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        if (writing && sent == size) {
            ::shutdown(fd.get(), SHUT_WR);
            writing = false;
        }
        pollfd p{fd.get(), short(POLLIN | (writing ? POLLOUT : 0)), 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            uint8_t buffer[65536];
            const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                return true;
        }
        if (writing && (p.revents & POLLOUT)) {
            const ssize_t n =
                ::send(fd.get(), data + sent, size - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0)
                sent += size_t(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                writing = false; // the responder has gone; wait for its close
        }
    }
    return false;
}

template <typename Predicate> bool waitUntil(Predicate predicate) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!predicate()) {
        if (Clock::now() >= deadline)
            return false;
        ::poll(nullptr, 0, 1);
    }
    return true;
}

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    Fixture& f = fixture();
    const bool overwrite = data[0] & 1;
    f.prepare(overwrite);
    FUZZ_CHECK(converse(f.engine.listenPort(), data + 1, size - 1));
    FUZZ_CHECK(
        waitUntil([&] { return f.engine.state().LinkState == zapfer::LinkState::Listening; }));
    f.engine.finishReceive();

    for (const auto& entry : fs::directory_iterator(f.root)) {
        const std::string name = entry.path().filename().string();
        FUZZ_CHECK(name == "dest" || name == "outside.txt");
    }
    FUZZ_CHECK(contentOf(f.root / "outside.txt") == "outside");
    for (const auto& entry : fs::directory_iterator(f.dest)) {
        const std::string name = entry.path().filename().string();
        FUZZ_CHECK(!name.starts_with(zapfer::kTempPrefix));
        FUZZ_CHECK(entry.is_regular_file());
    }
    if (!overwrite)
        FUZZ_CHECK(contentOf(f.dest / kOldName) == kOldContent);
    return 0;
}
