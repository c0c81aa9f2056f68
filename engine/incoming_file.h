#pragma once

// The block side of a receive: the file under way, its blocks checked,
// written (on a stream gathered into runs, one write per run) and
// acknowledged, and the CRC of the whole file combined from the blocks
// stored.

#include "block_run.h"
#include "receive_context.h"
#include "received_file.h"
#include "transfer.h"
#include "whole_file_crc.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace zapfer {

class IncomingFile {
public:
    explicit IncomingFile(ReceiveContext& context) : m_context(context) {}
    IncomingFile(const IncomingFile&) = delete;
    IncomingFile& operator=(const IncomingFile&) = delete;

    // Starts entry `index` of the table in the folder `dirFd`: the counters
    // move to it and the observer is told. False when its file could not be
    // created.
    bool open(int dirFd, uint8_t index, const FileOutcome& entry);
    bool isOpen() const { return m_file != nullptr; }
    // The file under way; null when none is open.
    ReceivedFile* file() const { return m_file.get(); }
    // Drops the file under way; one not yet committed never reaches its name.
    void close() { m_file.reset(); }
    const WholeFileCrc& crc() const { return m_fileCrc; }
    // Stored of the file under way (or of the last one).
    int64_t bytesStored() const { return m_fileBytes; }

    // A block's header: the length of its data to read. On a serial line,
    // none when the block is not the one awaited: its input is to be purged
    // and the block answered as not arrived. `stopped`: the local side
    // stopped the receive.
    std::optional<size_t> blockHeader(int32_t index, uint32_t crc, bool stopped);
    void blockData(std::span<const uint8_t> data, bool arrived, bool stopped);
    // Writes the blocks gathered so far, then acknowledges those stored; a
    // block the disk failed ends the transfer.
    void storeRun();

private:
    void blockStored(int32_t k, uint32_t crc, size_t length, bool newlyStored);
    void storeFailed();

    ReceiveContext& m_context;
    std::unique_ptr<ReceivedFile> m_file;
    // On a stream: good blocks of the file under way, not yet written.
    BlockRun m_run;
    // On a stream: the disk failed the file under way; nothing more of it is
    // stored or acknowledged.
    bool m_diskFailed = false;
    WholeFileCrc m_fileCrc;  // of the blocks m_file has stored
    int64_t m_fileBytes = 0; // stored of the file under way
    struct AwaitedBlock {
        int32_t index = 0;
        uint32_t crc = 0;
        bool expected = false; // its data is stored, not just read
    } m_block;
};

} // namespace zapfer
