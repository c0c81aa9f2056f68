// The receive session fed from memory: any byte stream, cut into any pieces,
// with any pauses between them, on either dialect. Nothing but memory and a
// scratch destination folder is involved, so it runs thousands of times a
// second.
//
// Input: a flags byte (bit 0: serial line, bit 1: overwrite, bit 2: start
// with a proper table and open of one file, so that blocks and closes are
// reached; bits 3-4: the block size, the dialect's own or 2048, 8192 or 256
// bytes, so that whole blocks and files are reached by small inputs too),
// then chunks of [length byte][pause in 10 ms units][bytes].
//
// A run's cost grows with what it does, not with its bytes: every chunk is a
// feed and a tick, every table a round of folder checks, every open a file
// made. The fuzzer keeps inputs that do one more of something, so unbounded
// they grow into hundreds of each and slow every later run, while more than a
// hundred of a kind finds nothing fewer do not (libFuzzer counts the hits of an
// edge in buckets that end at 128). So a run takes at most kMaxChunks chunks,
// the rest of the input following in 4 KiB pieces with no pause between them,
// as a socket's reads hand a stream over (in chunks' 255-byte pieces, every
// feed's own work made a long input three times slower to run); it stops
// feeding once kMaxFiles files were made; and after kMaxConsults consultations
// of the policy (tables, name requests) the peer is no longer one files are
// taken from, which also reaches the refusal of a peer.

#include "crc.h"
#include "fuzz_check.h"
#include "protocol.h"
#include "receive_session.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace zapfer;

constexpr int kMaxChunks = 128;
constexpr size_t kRestPiece = 4096;
constexpr int kMaxFiles = 32;
constexpr int kMaxConsults = 16;

struct Scratch {
    std::string folder;
    int watch = -1; // inotify, for names made in the folder; -1 without it
    // Every run leaves the folder empty: it goes with the process.
    ~Scratch() {
        if (watch >= 0)
            ::close(watch);
        ::rmdir(folder.c_str());
    }
};

const Scratch& scratch() {
    static const Scratch made = [] {
        // In memory where it can be: a file system that syncs to a disk
        // would make each run wait for it.
        char pattern[] = "/dev/shm/zapfer-fuzz-session-XXXXXX";
        char fallback[] = "/tmp/zapfer-fuzz-session-XXXXXX";
        if (::access("/dev/shm", W_OK) != 0)
            std::memcpy(pattern, fallback, sizeof fallback);
        const char* folder = ::mkdtemp(pattern);
        FUZZ_CHECK(folder != nullptr);
        // Watched from before the first run can put a name there.
        int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch >= 0 && ::inotify_add_watch(watch, folder, IN_CREATE | IN_MOVED_TO) < 0) {
            ::close(watch);
            watch = -1;
        }
        return Scratch{folder, watch};
    }();
    return made;
}

const std::string& scratchFolder() {
    return scratch().folder;
}

// The names in the scratch folder, read with a buffer on the stack: an
// opendir per run would allocate a large buffer each time, and with the
// sanitizers that costs more than the run itself.
std::vector<std::string> namesIn(const std::string& folder) {
    static const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::lseek(fd, 0, SEEK_SET) == 0);
    std::vector<std::string> names;
    alignas(8) char buffer[4096];
    for (;;) {
        const long got = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        FUZZ_CHECK(got >= 0);
        if (got == 0)
            break;
        for (long at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
            at += entry->d_reclen;
        }
    }
    return names;
}

// Whether a name may have been made in the scratch folder since the last
// call. A watch set up once tells so with one read that finds nothing, where
// the listing takes three calls; without inotify, always. A run that made a
// name leaves an event however the name came (created, linked in, renamed
// in), so the listing still sees everything a run left.
bool namesMayHaveAppeared() {
    const int watch = scratch().watch;
    if (watch < 0)
        return true;
    alignas(inotify_event) char events[4096];
    bool any = false;
    // Drained, so that the next run starts with no events; what a flood
    // leaves beyond the bound only costs that run a listing.
    for (int reads = 0; reads < 64 && ::read(watch, events, sizeof events) > 0; ++reads)
        any = true;
    return any;
}

class Observer : public SessionObserver {
public:
    explicit Observer(bool overwrite) : m_overwrite(overwrite) {}
    ReceivePolicy policy() override {
        touched = true; // a table reached the folder checks
        ++consults;
        return {scratchFolder(),
                m_overwrite ? zapfer::NameConflict::Replace : zapfer::NameConflict::Refuse, "Fuzz",
                consults <= kMaxConsults};
    }
    void incoming() override {}
    void fileStarted(const std::string& name) override {
        FUZZ_CHECK(isSafeReceivedName(name));
        FUZZ_CHECK(name[0] != '.');
        ++files;
    }
    void fileEnded(const FileOutcome& file) override {
        if (file.result == FileResult::Stored)
            ++stored;
    }
    void closeStatus() override {}
    void sound(Sound) override {}
    void abortTransfer() override { ++aborts; }
    void transferComplete() override {}
    void linkRequested() override {}
    void receiveEnded(const ReceiveOutcome& outcome) override {
        FUZZ_CHECK(outcome.filesDone >= 0 && outcome.filesDone <= 255);
    }

    bool touched = false;
    int consults = 0;
    int files = 0; // made, kept or not
    int aborts = 0;
    int stored = 0; // files kept under a name

private:
    bool m_overwrite;
};

class Sink : public ReplySink {
public:
    void reply(std::span<const uint8_t> bytes) override {
        // A command, a numbered block reply, or the owner's name block.
        FUZZ_CHECK(bytes.size() == kFrameSize || bytes.size() == kBlockReplySize ||
                   bytes.size() == kNameBlockSize);
        if (bytes.size() != kNameBlockSize)
            FUZZ_CHECK(FrameCommand(bytes.data()) != 0);
        ++replies;
    }
    size_t replies = 0;
};

// Built once: it is the same for every run.
const std::vector<uint8_t>& properStart() {
    static const std::vector<uint8_t> start = [] {
        std::vector<uint8_t> bytes;
        EntryBytes entry;
        EncodeTransferEntry("C:\\fuzz\\file.bin", 70000, entry);
        std::vector<uint8_t> message(kTableHeaderSize + kEntrySize);
        const size_t length = BuildFileTableMessage(entry, message);
        bytes.insert(bytes.end(), message.begin(), message.begin() + long(length));
        const auto open = BuildOpenMessage(0);
        bytes.insert(bytes.end(), open.begin(), open.end());
        return bytes;
    }();
    return start;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t flags = data[0];
    LinkTraits traits;
    const bool line = (flags & 1) != 0;
    traits.dialect = line ? Dialect::Line : Dialect::Stream;
    constexpr int32_t kOtherBlockSizes[] = {2048, 8192, 256};
    const unsigned sizeChoice = (flags >> 3) & 3;
    traits.blockSize = sizeChoice == 0 ? (line ? 4096 : 32768) : kOtherBlockSizes[sizeChoice - 1];
    traits.silenceLimitMs = line ? 100 : 2000;
    TransferCounters counters;
    Observer observer((flags & 2) != 0);
    Sink sink;
    int64_t now = 1'000'000;
    {
        ReceiveSession session(traits, counters, observer, sink);
        if (flags & 4) {
            session.feed(properStart(), now);
        }
        size_t at = 1;
        for (int chunk = 1; at < size && observer.files < kMaxFiles; ++chunk) {
            size_t length = kRestPiece;
            if (chunk <= kMaxChunks) {
                if (at + 2 > size)
                    break;
                length = data[at];
                now += int64_t(data[at + 1]) * 10;
                at += 2;
            }
            const size_t take = std::min(length, size - at);
            const bool endedBefore = session.linkEnded() || session.peerRefused();
            const size_t repliesBefore = sink.replies;
            session.tick(now);
            session.feed(std::span<const uint8_t>(data + at, take), now);
            at += take;
            // A stream message that stalls ends the connection: the engine is
            // told, and nothing after it is ever served.
            FUZZ_CHECK(!session.linkEnded() || traits.dialect == Dialect::Stream);
            FUZZ_CHECK(!session.linkEnded() || observer.aborts > 0);
            // Nor is anything served to a peer refused.
            if (endedBefore)
                FUZZ_CHECK(sink.replies == repliesBefore);
            // Between messages nothing waits on time.
            FUZZ_CHECK(session.parser().midMessage() ||
                       session.parser().deadline() == std::numeric_limits<int64_t>::max());
        }
        // A message left half-sent is given up once its time is over.
        session.tick(now + 100'000); // past the longest serial read (1000 + 65,280 ms)
        FUZZ_CHECK(!session.parser().midMessage());
        session.end(true);
    }
    // Nothing half-written stays, and nothing hidden was ever made.
    const bool appeared = observer.touched && namesMayHaveAppeared();
    // A file kept is a name made: the watch must not miss it.
    FUZZ_CHECK(appeared || observer.stored == 0);
    if (!appeared)
        return 0;
    for (const std::string& name : namesIn(scratchFolder())) {
        FUZZ_CHECK(name[0] != '.');
        ::unlink((scratchFolder() + "/" + name).c_str());
    }
    return 0;
}
