// Command-frame realignment on both links over an arbitrary byte stream. A
// command is only ever returned for a whole frame: the last four bytes taken
// must be that frame, however far out of step the stream was.

#include "command_reader.h"
#include "fuzz_check.h"
#include "protocol.h"

#include <cstring>

namespace {

class BufferSource : public zapfer::ByteSource {
public:
    BufferSource(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool readExact(uint8_t* buffer, size_t n) override {
        if (m_size - m_pos < n) {
            m_pos = m_size; // a short read consumes what was there, as a time-out does
            return false;
        }
        std::memcpy(buffer, m_data + m_pos, n);
        m_pos += n;
        return true;
    }
    void discardInput() override {
        // A purge loses what already arrived; model it as up to 16 bytes gone.
        m_pos = std::min(m_size, m_pos + 16);
        ++m_discards;
    }
    size_t position() const { return m_pos; }
    bool exhausted() const { return m_pos >= m_size; }
    const uint8_t* at(size_t pos) const { return m_data + pos; }
    int discards() const { return m_discards; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    int m_discards = 0;
};

void checkSocket(const uint8_t* data, size_t size) {
    BufferSource source(data, size);
    while (!source.exhausted()) {
        const size_t before = source.position();
        const uint8_t code = zapfer::ReadSocketCommand(source);
        const size_t taken = source.position() - before;
        FUZZ_CHECK(taken >= 1 && taken <= 7);
        if (code != 0) {
            FUZZ_CHECK(taken >= 4);
            const uint8_t* last = source.at(source.position() - 4);
            FUZZ_CHECK(zapfer::FrameCommand(last) == code);
        }
    }
}

void checkSerial(const uint8_t* data, size_t size) {
    BufferSource source(data, size);
    while (!source.exhausted()) {
        const size_t before = source.position();
        const int discardsBefore = source.discards();
        const uint8_t code = zapfer::ReadSerialCommand(source);
        if (code != 0) {
            FUZZ_CHECK(source.position() - before == 4);
            FUZZ_CHECK(source.discards() == discardsBefore);
            FUZZ_CHECK(zapfer::FrameCommand(source.at(before)) == code);
        } else if (source.position() - before >= 4 && source.discards() == discardsBefore) {
            // Dropped without a purge only when no marker byte was in the way.
            for (size_t i = 0; i < 4; ++i)
                FUZZ_CHECK(*source.at(before + i) != 0xFF && *source.at(before + i) != 0x11);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkSocket(data, size);
    checkSerial(data, size);
    return 0;
}
