// zapfer-cli receive and the files in its destination: another local process
// racing it cannot get its own file committed, a file that cannot be
// committed is not reported as received, and nothing half-written outlives a
// receiver.

#include "cli_peers.h"
#include "raw_peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

using namespace zapfer;
using namespace zapfer::testing;
using namespace std::chrono_literals;

namespace {

uint16_t portOf(const Receiver& receiver) {
    return uint16_t(std::stoi(receiver.port));
}

std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Table, open and every block of `data` as `name`; the close is the caller's.
void sendAllButTheClose(test::RawPeer& peer, const std::string& name, const std::string& data,
                        std::chrono::milliseconds betweenBlocks = 0ms) {
    peer.sendTable({{name, int32_t(data.size())}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
    for (size_t k = 0; k * 32768 < data.size(); ++k) {
        std::this_thread::sleep_for(betweenBlocks);
        const std::string block = data.substr(k * 32768, 32768);
        peer.sendBlock(int32_t(k), bytesOf(block));
        ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);
        ASSERT_EQ(peer.read(4).size(), 4u);
    }
}

} // namespace

TEST(CliReceiveFiles, AProcessSwappingTheTemporaryFileCannotGetItsFileCommitted) {
    TempDir dest;
    Receiver receiver = startReceiver(dest.path());
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    // Another user of the folder: whatever temporary file shows up is moved
    // aside and replaced by their own.
    ChildProcess racer({"sh", "-c",
                        "i=0; while [ $i -lt 3000 ]; do for f in \"$1\"/.zapfer-part-*; do "
                        "if [ -f \"$f\" ] && [ ! -L \"$f\" ] && [ \"$(cat \"$f\")\" != theirs ]; "
                        "then mv -f \"$f\" \"$1/moved\" && printf theirs > \"$f\" && echo swapped; "
                        "fi; done; i=$((i+1)); sleep 0.01; done",
                        "sh", dest.path()});
    const std::string data = randomBytes(3 * 32768, 5);
    test::RawPeer peer(portOf(receiver));
    sendAllButTheClose(peer, "target.bin", data, 300ms);
    std::this_thread::sleep_for(300ms);
    peer.sendCommand(CMD_CLOSE_FILE);
    const uint8_t closed = peer.readCommand();
    racer.signal(SIGTERM);
    racer.waitExit(5s);

    // Either the file written arrived, or it was refused at its close: never theirs.
    if (closed == CMD_OK) {
        EXPECT_TRUE(readFile(dest.file("target.bin")) == data) << "not the file sent";
    } else {
        EXPECT_EQ(closed, CMD_CANNOT_CREATE);
    }
    if (std::filesystem::exists(dest.file("target.bin"))) {
        EXPECT_NE(readFile(dest.file("target.bin")), "theirs");
    }
}
