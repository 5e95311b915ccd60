// squid in front of a test's services: a forwarding proxy on a free loopback port that asks
// for Basic authentication, started with a configuration of its own in a folder of its own,
// and stopped with the test. squid drops root to its own user, so the folder is open to all.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

class SquidProxy {
public:
    SquidProxy(const std::string& user, const std::string& password) {
        char pattern[] = "/tmp/veltrane-squid-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("squid: no folder");
        folder_ = pattern;
        chmod(folder_.c_str(), 0777);
        WritePasswords(user, password);
        // A port another process takes between our look and squid's bind: try another.
        for (int attempt = 0; attempt < 3 && pid_ <= 0; ++attempt) Start(FreePort());
        if (pid_ <= 0) throw std::runtime_error("squid did not start; see " + folder_ + "/squid.out");
    }
    ~SquidProxy() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove_all(folder_);
    }

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string AccessLog() const {
        std::ifstream in(folder_ + "/access.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    static int FreePort() {
        int probe = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
        close(probe);
        return ntohs(address.sin_port);
    }
    static bool Accepts(int port) {
        int probe = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        bool connected = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(probe);
        return connected;
    }

    void WritePasswords(const std::string& user, const std::string& password) {
        std::string command = "openssl passwd -apr1 '" + password + "'";
        FILE* hash = popen(command.c_str(), "r");
        char line[256] = {};
        if (hash == nullptr || fgets(line, sizeof line, hash) == nullptr) throw std::runtime_error("squid: no openssl");
        pclose(hash);
        std::ofstream(folder_ + "/passwd") << user << ":" << line;
        chmod((folder_ + "/passwd").c_str(), 0644);
    }

    void Start(int port) {
        std::string conf = folder_ + "/squid.conf";
        std::ofstream(conf) << "http_port 127.0.0.1:" << port << "\n"
                            << "pid_filename " << folder_ << "/squid.pid\n"
                            << "cache_log " << folder_ << "/cache.log\n"
                            << "access_log " << folder_ << "/access.log\n"
                            << "cache_store_log none\n"
                            << "coredump_dir " << folder_ << "\n"
                            << "cache deny all\n"
                            << "auth_param basic program /usr/lib/squid/basic_ncsa_auth " << folder_ << "/passwd\n"
                            << "auth_param basic realm veltrane-test\n"
                            << "acl authenticated proxy_auth REQUIRED\n"
                            << "http_access allow authenticated\n"
                            << "http_access deny all\n"
                            << "visible_hostname veltrane-test\n"
                            // Loopback only: the services are addressed by number.
                            << "dns_nameservers 127.0.0.1\n"
                            << "pinger_enable off\n"
                            << "shutdown_lifetime 0 seconds\n";
        pid_t pid = fork();
        if (pid == 0) {
            FILE* out = freopen((folder_ + "/squid.out").c_str(), "w", stdout);
            (void)out;
            dup2(fileno(stdout), fileno(stderr));
            execlp("squid", "squid", "-N", "-f", conf.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             std::chrono::steady_clock::now() < until;) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) return;  // it ended: not started
            if (Accepts(port)) {
                pid_ = pid;
                port_ = port;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }

    std::string folder_;
    pid_t pid_ = -1;
    int port_ = 0;
};
