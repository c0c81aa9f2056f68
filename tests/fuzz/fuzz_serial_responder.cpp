// A whole serial responder fed an arbitrary byte stream over a pty pair.
// Once the stream has been taken in, the line falls quiet and the front end
// ends any receive dialog as a user would (Cancel while it is still up), the
// responder is idle: LinkState Listening, or Connected when the stream's last
// link set-up still holds (the serial link has no connection to lose, so
// Connected is its idle state until the link times out), with no receive in
// progress. A proper peer can then connect and send a file. Nothing was ever
// written outside the destination, no temporary file is left and an older
// file survives unless overwriting is on. Each input gets its own engine and
// pty, so no descriptor may outlive it.
//
// Input: a flags byte (bit 0: the receiver may overwrite; bit 1: USB, else
// COM1), then the bytes the peer writes.

#include "crc.h"
#include "engine.h"
#include "fuzz_check.h"
#include "received_file.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string kOldName = "keep.txt";
const std::string kOldContent = "an older file that must survive";
const std::string kProbeName = "probe.bin";
const Bytes kProbeData = {'p', 'r', 'o', 'b', 'e'};

// The receive dialog as the window runs it: up from incomingTransfer to
// closeStatusDialog, after which the window calls finishReceive.
class DialogEvents : public zapfer::NullEngineEvents {
public:
    void receiveStarted(zapfer::TransferId) override { dialogUp = true; }
    void transferEnded(zapfer::TransferId) override {
        if (dialogUp.exchange(false))
            dialogClosed = true;
    }
    std::atomic<bool> dialogUp{false};
    std::atomic<bool> dialogClosed{false};
};

struct Folders {
    Folders() {
        std::string pattern = (fs::temp_directory_path() / "zapfer-fuzz-serial-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        root = pattern;
        dest = root / "dest";
        fs::create_directory(dest);
        std::ofstream(root / "outside.txt") << "outside";
    }
    ~Folders() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    fs::path root;
    fs::path dest;
};

Folders& folders() {
    static Folders f;
    return f;
}

int openDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The peer's end of the line: the pty master, with the slave held open so the
// master never sees a hang-up between the engine's opens.
struct Line {
    Line() {
        termios raw{};
        ::cfmakeraw(&raw);
        int m = -1;
        int s = -1;
        char name[256] = {};
        if (::openpty(&m, &s, name, &raw, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        master.reset(m);
        slave.reset(s);
        path = name;
        ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK | O_CLOEXEC);
        ::fcntl(m, F_SETFD, FD_CLOEXEC);
        ::fcntl(s, F_SETFD, FD_CLOEXEC);
    }
    // Bytes waiting for the responder.
    int pending() const {
        int n = 0;
        return ::ioctl(slave.get(), FIONREAD, &n) == 0 ? n : -1;
    }
    // Reads whatever the responder wrote into `replies`.
    void drain() {
        uint8_t buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master.get(), buffer, sizeof buffer);
            if (n <= 0)
                return;
            replies.insert(replies.end(), buffer, buffer + n);
        }
    }
    // Writes all of `data` while taking the replies; false when the responder
    // stopped reading.
    bool write(const uint8_t* data, size_t size) {
        size_t sent = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (sent < size && Clock::now() < deadline) {
            pollfd p{master.get(), POLLIN | POLLOUT, 0};
            ::poll(&p, 1, 50);
            drain();
            const ssize_t n = ::write(master.get(), data + sent, size - sent);
            if (n > 0)
                sent += size_t(n);
        }
        return sent == size;
    }
    // Waits until the responder has taken every byte; false when it stopped.
    bool consumed() {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        int quiet = 0;
        while (quiet < 3) {
            if (Clock::now() >= deadline)
                return false;
            pollfd p{master.get(), POLLIN, 0};
            ::poll(&p, 1, 1);
            drain();
            quiet = pending() == 0 ? quiet + 1 : 0;
        }
        return true;
    }
    // No byte comes in for a few milliseconds (a write to the master reaches
    // the slave's queue a moment later).
    bool stillQuiet() {
        for (int i = 0; i < 3; ++i) {
            if (pending() != 0)
                return false;
            ::poll(nullptr, 0, 1);
        }
        return pending() == 0;
    }
    // Reads replies until `code`'s frame arrives, dropping what comes before.
    bool expect(uint8_t code, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const zapfer::Frame frame = zapfer::BuildFrame(code);
        const auto deadline = Clock::now() + limit;
        for (;;) {
            const auto at = std::search(replies.begin(), replies.end(), frame.begin(), frame.end());
            if (at != replies.end()) {
                replies.erase(replies.begin(), at + long(frame.size()));
                return true;
            }
            if (Clock::now() >= deadline)
                return false;
            pollfd p{master.get(), POLLIN, 0};
            ::poll(&p, 1, 10);
            drain();
        }
    }

    zapfer::UniqueFd master;
    zapfer::UniqueFd slave;
    std::string path;
    Bytes replies;
};

Bytes frameOf(uint8_t code) {
    const zapfer::Frame f = zapfer::BuildFrame(code);
    return {f.begin(), f.end()};
}

// A proper peer's whole exchange for one small file. Like any initiator it
// pings until answered: a byte of the input that was still on its way when
// the line was judged quiet may hold the responder in a read that swallows a
// ping; the retry's wake-up ends that read as its time-out would.
void probeTransfer(Line& line, zapfer::Engine& engine) {
    auto send = [&](const Bytes& bytes) { FUZZ_CHECK(line.write(bytes.data(), bytes.size())); };
    bool answered = false;
    for (int i = 0; i < 10 && !answered; ++i) {
        send(frameOf(zapfer::CMD_PING));
        answered = line.expect(zapfer::CMD_PING_REPLY, std::chrono::milliseconds(300));
        if (!answered)
            engine.retrySerialPort();
    }
    FUZZ_CHECK(answered);
    send(frameOf(zapfer::CMD_CONNECT));
    FUZZ_CHECK(line.expect(zapfer::CMD_ACCEPTED));

    zapfer::EntryBytes entry{};
    FUZZ_CHECK(zapfer::EncodeTransferEntry("C:\\" + kProbeName, int64_t(kProbeData.size()),
                                           entry) == zapfer::EntryError::None);
    Bytes table(zapfer::kTableHeaderSize + entry.size());
    zapfer::BuildFileTableMessage(entry, table);
    send(table);
    FUZZ_CHECK(line.expect(zapfer::CMD_OK));
    const auto open = zapfer::BuildOpenMessage(0);
    send({open.begin(), open.end()});
    FUZZ_CHECK(line.expect(zapfer::CMD_OK));
    Bytes block(zapfer::kBlockHeaderSize + kProbeData.size());
    zapfer::BuildBlockMessage(0, kProbeData, block);
    send(block);
    FUZZ_CHECK(line.expect(zapfer::CMD_BLOCK_OK));
    send(frameOf(zapfer::CMD_CLOSE_FILE));
    FUZZ_CHECK(line.expect(zapfer::CMD_OK));
}

bool waitIdle(zapfer::Engine& engine) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        const zapfer::LinkState link = engine.state().LinkState;
        if (link == zapfer::LinkState::Listening)
            return true;
        if (Clock::now() >= deadline)
            return false;
        ::poll(nullptr, 0, 1);
    }
}

void checkFolders(bool overwrite) {
    Folders& f = folders();
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
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    Folders& f = folders();
    const bool overwrite = data[0] & 1;
    const zapfer::CommType type = (data[0] & 2) ? zapfer::CommType::Usb : zapfer::CommType::Com1;
    for (const auto& entry : fs::directory_iterator(f.dest))
        fs::remove_all(entry.path());
    std::ofstream(f.dest / kOldName, std::ios::trunc) << kOldContent;

    const int descriptors = openDescriptors();
    {
        Line line;
        DialogEvents events;
        auto engine = std::make_unique<zapfer::Engine>(events);
        zapfer::EngineSettings settings;
        settings.destDir = f.dest.string();
        settings.nameConflict =
            overwrite ? zapfer::NameConflict::Replace : zapfer::NameConflict::Refuse;
        settings.ownerName = "Fuzz responder";
        settings.serialDevices.com1 = line.path;
        settings.serialDevices.usb = line.path;
        engine->setSettings(settings);
        FUZZ_CHECK(engine->selectCommType(type, false));
        engine->start();

        FUZZ_CHECK(line.write(data + 1, size - 1));
        // The line goes quiet: the step in progress ends at once, as its read
        // time-out would end it. A byte still on its way starts a new step.
        bool settled = false;
        for (int round = 0; round < 20 && !settled; ++round) {
            FUZZ_CHECK(line.consumed());
            engine->retrySerialPort(); // returns once the step in progress is over
            settled = line.stillQuiet();
        }
        FUZZ_CHECK(settled);

        if (events.dialogUp) {
            engine->cancel(); // the user gives up on a sender that fell silent
            events.dialogUp = false;
            events.dialogClosed = true;
        }
        if (events.dialogClosed)
            engine->finishReceive();
        const zapfer::LinkState link = engine->state().LinkState;
        FUZZ_CHECK(link == zapfer::LinkState::Listening || link == zapfer::LinkState::Connected);
        if (events.dialogClosed)
            FUZZ_CHECK(engine->state().AbortFlag == 0);
        checkFolders(overwrite);

        fs::remove(f.dest / kProbeName);
        events.dialogClosed = false;
        line.drain();
        line.replies.clear(); // the answers to the input
        probeTransfer(line, *engine);
        FUZZ_CHECK(waitIdle(*engine));
        engine->finishReceive();
        FUZZ_CHECK(contentOf(f.dest / kProbeName) ==
                   std::string(kProbeData.begin(), kProbeData.end()));
        FUZZ_CHECK(engine->state().AbortFlag == 0);
        engine->stop();
        engine.reset();
        checkFolders(overwrite);
    }
    FUZZ_CHECK(openDescriptors() == descriptors);
    return 0;
}
