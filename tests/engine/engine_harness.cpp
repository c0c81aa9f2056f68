#include "engine_harness.h"

#include <fcntl.h>

#include <algorithm>
#include <fstream>
#include <random>

namespace zapfer::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "zapfer-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

Folder::Folder() : fd(::open(root.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<fs::path> makeFiles(const TempDir& dir, int count, size_t size) {
    std::vector<fs::path> files;
    for (int i = 0; i < count; ++i) {
        files.push_back(dir / ("f" + std::to_string(i) + ".dat"));
        writeFile(files.back(), randomBytes(size, uint32_t(i)));
    }
    return files;
}

std::vector<std::string> listNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

uint32_t loopback() {
    return 0x7F000001u;
}

namespace {
LinkConfig responderConfig() {
    LinkConfig config;
    config.listenPort = 0;
    config.echoPort = 0;
    config.listenAddress = loopback();
    return config;
}
} // namespace

Responder::Responder(const fs::path& dest, bool overwrite) : engine(events, responderConfig()) {
    EngineSettings settings;
    settings.destDir = dest.string();
    settings.nameConflict = overwrite ? NameConflict::Replace : NameConflict::Refuse;
    settings.ownerName = "Responder";
    engine.setSettings(settings);
    engine.selectCommType(CommType::Wan, true);
    engine.start();
}

Responder::~Responder() {
    engine.stop();
}

namespace {
LinkConfig senderConfig(uint16_t port) {
    LinkConfig config;
    config.listenPort = 0;
    config.echoPort = 0;
    config.listenAddress = loopback();
    config.peerPort = port;
    return config;
}
} // namespace

Sender::Sender(uint16_t port) : engine(events, senderConfig(port)) {
    EngineSettings settings;
    settings.peerIp = loopback();
    settings.ownerName = "Sender";
    engine.setSettings(settings);
    engine.selectCommType(CommType::Wan, true);
    engine.start();
}

Sender::~Sender() {
    engine.stop();
}

std::vector<SendFile> sendFiles(const std::vector<fs::path>& files) {
    std::vector<SendFile> list;
    for (const auto& file : files)
        list.push_back({file.string(), int64_t(fs::file_size(file))});
    return list;
}

SendOutcome runSend(SendHandshake& handshake, RecordingEvents& events,
                    const std::vector<SendFile>& files, std::chrono::seconds limit) {
    SendRefused why;
    const TransferId id = handshake.begin(files, &why);
    EXPECT_NE(id, kNoTransfer) << int(why.reason) << " " << why.path;
    if (id == kNoTransfer)
        return {};
    EXPECT_TRUE(events.waitUntil([&] { return events.lastConnecting == id; }));
    if (!handshake.connectingClosed(false))
        return handshake.outcome();
    EXPECT_TRUE(events.waitUntil(
        [&] {
            return std::find(events.endedIds.begin(), events.endedIds.end(), id) !=
                   events.endedIds.end();
        },
        limit));
    return handshake.statusClosed(false);
}

SendOutcome Sender::send(const std::vector<fs::path>& files) {
    return runSend(handshake, events, sendFiles(files));
}

} // namespace zapfer::test
