// nginx in its own process serving a folder's files over HTTPS on loopback, every other path
// passed on to a plain-HTTP service: a benchmark's client then shares no process with the
// server that sends it the bytes, and its profile shows the client alone.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>

class NginxFiles {
public:
    // A loopback port free now, for a server whose URL must be known before it starts.
    static uint16_t FreePort();

    // Listens on `port`; serves GET `urlPrefix`<path> from `folder`/<path> and passes anything
    // else on to `apiPort`. `workFolder` takes the configuration, the error log and the
    // temporary files. Throws std::runtime_error when nginx does not start listening.
    NginxFiles(uint16_t port, const std::filesystem::path& workFolder, const std::filesystem::path& folder,
               const char* urlPrefix, uint16_t apiPort, const std::filesystem::path& certFile,
               const std::filesystem::path& keyFile);
    ~NginxFiles();
    NginxFiles(const NginxFiles&) = delete;
    NginxFiles& operator=(const NginxFiles&) = delete;

    uint16_t Port() const { return port_; }

private:
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};
