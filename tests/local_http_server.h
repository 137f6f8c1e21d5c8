// A small HTTP/1.1 server on 127.0.0.1 for the network tests: one thread
// accepts, one thread per connection answers from a table of routes.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LocalHttpServer {
public:
    enum class Mode {
        Answer,         // the whole answer, then close
        Silent,         // accept, read the request, never answer
        StallMidBody,   // head and half the body, then silence
        CloseMidBody,   // head and half the body, then close
    };
    struct Route {
        int status = 200;
        std::string body;
        std::string extraHeaders;  // complete lines, each ending in \r\n
        Mode mode = Mode::Answer;
    };
    static Route Page(int status, std::string body, Mode mode = Mode::Answer) {
        Route r;
        r.status = status;
        r.body = std::move(body);
        r.mode = mode;
        return r;
    }
    static Route Redirect(int status, const std::string& location, std::string body = "") {
        Route r = Page(status, std::move(body));
        r.extraHeaders = "Location: " + location + "\r\n";
        return r;
    }

    LocalHttpServer() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0) std::abort();
        int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr = Loopback(0);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener_, 16) != 0)
            std::abort();
        socklen_t len = sizeof addr;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        acceptor_ = std::thread([this] { AcceptLoop(); });
    }
    ~LocalHttpServer() {
        stop_ = true;
        acceptor_.join();
        std::vector<std::thread> done;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done.swap(connections_);
        }
        for (std::thread& t : done) t.join();
        close(listener_);
    }
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    void Add(const std::string& path, Route route) {
        std::lock_guard<std::mutex> lock(mutex_);
        routes_[path] = std::move(route);
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    // The request heads received so far, in order.
    std::vector<std::string> Requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

    // A port on 127.0.0.1 where nothing listens (bound for a moment, then freed).
    static int ClosedPort() {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr = Loopback(0);
        bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        close(fd);
        return ntohs(addr.sin_port);
    }

private:
    static sockaddr_in Loopback(int port) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return addr;
    }

    // Waits for fd to become readable, giving up when the server stops.
    bool WaitReadable(int fd) const {
        while (!stop_) {
            pollfd p{.fd = fd, .events = POLLIN, .revents = 0};
            if (poll(&p, 1, 50) > 0) return true;
        }
        return false;
    }

    void AcceptLoop() {
        while (WaitReadable(listener_)) {
            int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::lock_guard<std::mutex> lock(mutex_);
            connections_.emplace_back([this, fd] { Serve(fd); });
        }
    }

    static void SendAll(int fd, const std::string& data) {
        size_t sent = 0;
        while (sent < data.size()) {
            ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<size_t>(n);
        }
    }

    void Serve(int fd) {
        std::string request;
        char chunk[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 && WaitReadable(fd)) {
            ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            request.append(chunk, static_cast<size_t>(n));
        }
        Route route = Page(404, "no such route");
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
            const size_t start = request.find(' ');
            const size_t end = start == std::string::npos ? start : request.find(' ', start + 1);
            if (end != std::string::npos) {
                auto it = routes_.find(request.substr(start + 1, end - start - 1));
                if (it != routes_.end()) route = it->second;
            }
        }
        const std::string head = "HTTP/1.1 " + std::to_string(route.status) + " Status\r\nContent-Length: " +
                                 std::to_string(route.body.size()) + "\r\nConnection: close\r\n" +
                                 route.extraHeaders + "\r\n";
        switch (route.mode) {
        case Mode::Answer:
            SendAll(fd, head + route.body);
            break;
        case Mode::CloseMidBody:
            SendAll(fd, head + route.body.substr(0, route.body.size() / 2));
            break;
        case Mode::StallMidBody:
            SendAll(fd, head + route.body.substr(0, route.body.size() / 2));
            [[fallthrough]];
        case Mode::Silent:
            // Until the client gives up (closes) or the server stops.
            while (WaitReadable(fd) && recv(fd, chunk, sizeof chunk, 0) > 0) {
            }
            break;
        }
        shutdown(fd, SHUT_WR);
        close(fd);
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<std::thread> connections_;
    std::map<std::string, Route> routes_;
    std::vector<std::string> requests_;
};
