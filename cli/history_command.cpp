#include "history_command.h"

#include "history_path.h"
#include "history_store.h"
#include "text_escape.h"

#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <string>

namespace zapfer::cli {
namespace {

using namespace zapfer::history;

std::string timeText(std::int64_t ms, bool utc) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm parts{};
    if (utc)
        gmtime_r(&seconds, &parts);
    else
        localtime_r(&seconds, &parts);
    char text[40] = {};
    std::strftime(text, sizeof text, utc ? "%Y-%m-%dT%H:%M:%SZ" : "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

std::string crcText(const std::optional<std::uint32_t>& crc) {
    if (!crc)
        return "--------";
    char text[16] = {};
    std::snprintf(text, sizeof text, "%08" PRIx32, *crc);
    return text;
}

void printTransfer(const StoredTransfer& stored, const std::vector<FileRecord>& files) {
    const TransferRecord& t = stored.record;
    std::string line = "#" + std::to_string(stored.id) + "  " + timeText(t.startedMs, false) +
                       "  " + std::string(toText(t.direction)) +
                       (t.direction == Direction::Sent ? " to " : " from ") +
                       escapeForTerminal(t.peer);
    if (!t.peerName.empty())
        line += " (" + escapeForTerminal(t.peerName) + ")";
    line += " over " + escapeForTerminal(t.link) + ": " + std::string(toText(t.outcome));
    if (t.refusalCode)
        line += " (code " + std::to_string(*t.refusalCode) + ")";
    char amount[64] = {};
    std::snprintf(amount, sizeof amount, ", %" PRIu64 " bytes in %.1f s", t.bytes,
                  static_cast<double>(t.durationMs) / 1000.0);
    std::printf("%s%s\n", line.c_str(), amount);
    if (!t.detail.empty())
        std::printf("    %s\n", escapeForTerminal(t.detail).c_str());
    for (const FileRecord& f : files) {
        std::string size = std::to_string(f.size);
        if (f.bytesDone != f.size)
            size = std::to_string(f.bytesDone) + "/" + size;
        std::string name = escapeForTerminal(f.nameSent);
        if (!f.nameStored.empty() && f.nameStored != f.nameSent)
            name += " -> " + escapeForTerminal(f.nameStored);
        std::printf("    %-10s %14s  %s  %s\n", std::string(toText(f.result)).c_str(), size.c_str(),
                    crcText(f.crc32).c_str(), name.c_str());
    }
}

std::string jsonNumberOrNull(const std::optional<std::int64_t>& value) {
    return value ? std::to_string(*value) : "null";
}

void printJson(const StoredTransfer& stored, const std::vector<FileRecord>& files) {
    const TransferRecord& t = stored.record;
    std::string json =
        "{\"id\":" + std::to_string(stored.id) +
        ",\"started\":" + jsonString(timeText(t.startedMs, true)) +
        ",\"started_ms\":" + std::to_string(t.startedMs) +
        ",\"ended_ms\":" + std::to_string(t.endedMs) +
        ",\"direction\":" + jsonString(toText(t.direction)) + ",\"link\":" + jsonString(t.link) +
        ",\"peer\":" + jsonString(t.peer) + ",\"peer_name\":" + jsonString(t.peerName) +
        ",\"outcome\":" + jsonString(toText(t.outcome)) + ",\"refusal_code\":" +
        jsonNumberOrNull(t.refusalCode ? std::optional<std::int64_t>(*t.refusalCode)
                                       : std::nullopt) +
        ",\"detail\":" + jsonString(t.detail) + ",\"bytes\":" + std::to_string(t.bytes) +
        ",\"duration_ms\":" + std::to_string(t.durationMs) + ",\"files\":[";
    bool first = true;
    for (const FileRecord& f : files) {
        json += first ? "" : ",";
        first = false;
        json +=
            "{\"name_sent\":" + jsonString(f.nameSent) +
            ",\"name_stored\":" + jsonString(f.nameStored) + ",\"size\":" + std::to_string(f.size) +
            ",\"bytes_done\":" + std::to_string(f.bytesDone) +
            ",\"result\":" + jsonString(toText(f.result)) + ",\"crc32\":" +
            jsonNumberOrNull(f.crc32 ? std::optional<std::int64_t>(*f.crc32) : std::nullopt) + "}";
    }
    std::printf("%s]}\n", json.c_str());
}

int fail(const std::string& text) {
    std::fprintf(stderr, "zapfer-cli: %s\n", text.c_str());
    return 1;
}

} // namespace

int runHistory(const CliOptions& options) {
    const std::string path = defaultHistoryPath();
    if (path.empty())
        return fail("no place for the history: neither XDG_DATA_HOME nor a home folder is set");
    // Looking must not create an empty database (and its folders).
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) {
        if (!options.historyJson)
            std::printf("No transfers recorded yet (%s).\n", escapeForTerminal(path).c_str());
        return 0;
    }
    auto store = HistoryStore::open(path);
    if (!store)
        return fail(store.error().text);
    if (!store.value().notice().empty())
        std::fprintf(stderr, "zapfer-cli: %s\n", store.value().notice().c_str());

    // --failed takes the newest transfers with failed files: look through all.
    const int wanted =
        options.historyFailedOnly ? HistoryOptions{}.maxTransfers : options.historyLimit;
    auto transfers = store.value().recentTransfers(wanted);
    if (!transfers)
        return fail(transfers.error().text);
    int shown = 0;
    for (const StoredTransfer& stored : transfers.value()) {
        if (shown == options.historyLimit)
            break;
        if (options.historyFailedOnly && stored.failedFileCount == 0)
            continue;
        auto files = options.historyFailedOnly ? store.value().failedFilesOf(stored.id)
                                               : store.value().filesOf(stored.id);
        if (!files)
            return fail(files.error().text);
        if (options.historyJson)
            printJson(stored, files.value());
        else
            printTransfer(stored, files.value());
        ++shown;
    }
    if (shown == 0 && !options.historyJson)
        std::printf(options.historyFailedOnly ? "No transfer with failed files.\n"
                                              : "No transfers recorded yet.\n");
    return 0;
}

} // namespace zapfer::cli
