// A plain loopback HTTP server for what a well-behaved service never does: it keeps every
// request as it arrived on the wire, and answers each connection as the test says — a whole
// reply, only its first bytes and then silence, or nothing at all — holding a silent
// connection open until the client closes it or the server stops.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class PlainServer {
public:
    struct Answer {
        std::string reply;                     // sent as it stands (include "Connection: close")
        size_t sendBytes = std::string::npos;  // only this much is sent; then the server is silent
    };
    // Gives the answer for the connection with this index (from 0) and its request.
    using Script = std::function<Answer(size_t connection, const std::string& request)>;

    explicit PlainServer(Script script) : script_(std::move(script)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        int yes = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 16) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("plain server: no loopback port");
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~PlainServer() {
        stopping_ = true;
        acceptor_.join();
        for (std::thread& connection : connections_) connection.join();
        close(listener_);
    }

    int Port() const { return port_; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    size_t Accepted() const { return accepted_; }
    // Connections the client closed while the server held them open.
    size_t ClosedByClient() const { return closedByClient_; }
    std::vector<std::string> Requests() {
        std::lock_guard guard(lock_);
        return requests_;
    }

    // "Content-Length: N" of a request head, or 0.
    static size_t ContentLength(const std::string& head) {
        for (const char* name : {"\r\nContent-Length:", "\r\ncontent-length:"}) {
            size_t at = head.find(name);
            if (at != std::string::npos) return std::strtoul(head.c_str() + at + std::string(name).size(), nullptr, 10);
        }
        return 0;
    }

private:
    bool Readable(int socket) {
        pollfd waiting{socket, POLLIN, 0};
        return poll(&waiting, 1, 20) > 0;
    }

    void Accept() {
        while (!stopping_) {
            if (!Readable(listener_)) continue;
            int client = accept(listener_, nullptr, nullptr);
            if (client < 0) continue;
            size_t index = accepted_++;
            connections_.emplace_back([this, client, index] { Serve(client, index); });
        }
    }

    void Serve(int client, size_t index) {
        std::string request;
        char buffer[4096];
        // The head, then the body its Content-Length announces.
        for (size_t end = std::string::npos; !stopping_;) {
            if (end == std::string::npos) end = request.find("\r\n\r\n");
            if (end != std::string::npos && request.size() >= end + 4 + ContentLength(request.substr(0, end + 2)))
                break;
            if (!Readable(client)) continue;
            ssize_t got = recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            request.append(buffer, static_cast<size_t>(got));
        }
        {
            std::lock_guard guard(lock_);
            requests_.push_back(request);
        }
        Answer answer = script_(index, request);
        std::string sent = answer.reply.substr(0, std::min(answer.sendBytes, answer.reply.size()));
        if (!sent.empty()) send(client, sent.data(), sent.size(), MSG_NOSIGNAL);
        if (answer.sendBytes != std::string::npos) {
            // Silence: hold the connection until the client gives up on it.
            while (!stopping_) {
                if (!Readable(client)) continue;
                if (recv(client, buffer, sizeof buffer, 0) <= 0) {
                    ++closedByClient_;
                    break;
                }
            }
        }
        close(client);
    }

    Script script_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<size_t> accepted_{0};
    std::atomic<size_t> closedByClient_{0};
    std::thread acceptor_;
    std::vector<std::thread> connections_;  // touched by the acceptor only, joined after it
    std::mutex lock_;
    std::vector<std::string> requests_;
};
