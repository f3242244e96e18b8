// The driver reads the RTP transport of a device only from its settings file,
// Quarnel.xml beside the host executable. For a run with a chosen transport
// the CLI writes that file with a section for the device, and puts the file
// back as it was (or removes it) when the run ends.
//
// Thread-safety: used by the CLI's main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dravnel::cli {

class TransportFile {
public:
    ~TransportFile() { Restore(); }

    // "udp", "tcp", "interleaved" or "http" to the file's mode names; nullopt otherwise.
    static std::optional<std::string> ModeName(const std::string& transport);
    // The settings file the driver will read when loaded by this program.
    static std::string Path();

    // Writes the file for address:port; false with `error` set.
    bool Apply(const std::string& address, uint16_t port, const std::string& transport, std::string& error);
    void Restore();
    const std::string& WrittenPath() const { return path_; }

private:
    std::string path_;
    std::optional<std::string> previous_;  // nullopt: there was no file
    bool applied_ = false;
};

}  // namespace dravnel::cli
