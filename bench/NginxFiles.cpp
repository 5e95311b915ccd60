// nginx started from the benchmark with a configuration of its own, one process (no master),
// stopped by its process id.
#include "NginxFiles.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

bool Accepts(uint16_t port) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    sockaddr_in address = Loopback(port);
    bool connected = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(s);
    return connected;
}

// Large TLS records and no logging per request: the server should cost as little as it can.
void WriteConfiguration(const fs::path& file, uint16_t port, const fs::path& work, const fs::path& folder,
                        const char* urlPrefix, uint16_t apiPort, const fs::path& certFile, const fs::path& keyFile) {
    const std::string w = work.string();
    std::ofstream out(file);
    out << "daemon off;\nmaster_process off;\nerror_log " << w << "/error.log warn;\npid " << w << "/nginx.pid;\n"
        << "events { worker_connections 256; }\n"
        << "http {\n  access_log off;\n  keepalive_requests 100000;\n"
        << "  client_body_temp_path " << w << "/body;\n  proxy_temp_path " << w << "/proxy;\n"
        << "  fastcgi_temp_path " << w << "/fastcgi;\n  uwsgi_temp_path " << w << "/uwsgi;\n"
        << "  scgi_temp_path " << w << "/scgi;\n"
        << "  server {\n    listen 127.0.0.1:" << port << " ssl;\n"
        << "    ssl_certificate " << certFile.string() << ";\n    ssl_certificate_key " << keyFile.string() << ";\n"
        << "    location " << urlPrefix << " {\n      alias " << folder.string() << "/;\n"
        << "      default_type application/octet-stream;\n    }\n"
        << "    location / {\n      proxy_pass http://127.0.0.1:" << apiPort << ";\n"
        << "      proxy_http_version 1.1;\n      proxy_set_header Host $http_host;\n    }\n"
        << "  }\n}\n";
    if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace

uint16_t NginxFiles::FreePort() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (s >= 0) ::close(s);
        throw std::runtime_error("no free loopback port");
    }
    ::close(s);
    return ntohs(address.sin_port);
}

NginxFiles::NginxFiles(uint16_t port, const fs::path& workFolder, const fs::path& folder, const char* urlPrefix,
                       uint16_t apiPort, const fs::path& certFile, const fs::path& keyFile)
    : port_(port) {
    fs::create_directories(workFolder);
    const fs::path configuration = workFolder / "nginx.conf";
    WriteConfiguration(configuration, port, workFolder, folder, urlPrefix, apiPort, certFile, keyFile);
    const std::string prefix = workFolder.string() + "/";
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::execl("/usr/sbin/nginx", "nginx", "-q", "-p", prefix.c_str(), "-c", configuration.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (Accepts(port_)) return;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("nginx ended at once; see " + (workFolder / "error.log").string());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    throw std::runtime_error("nginx does not listen on port " + std::to_string(port));
}

NginxFiles::~NginxFiles() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
}
