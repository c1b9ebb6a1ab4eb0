// A one-connection TCP receiver on a loopback address, standing in for a directory server:
// it accepts one connection and keeps every byte until the peer closes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace testutil {

class TcpSink {
  public:
    TcpSink(const std::string& address, uint16_t port);
    ~TcpSink();
    TcpSink(const TcpSink&) = delete;
    TcpSink& operator=(const TcpSink&) = delete;
    bool ok() const { return listener_ >= 0; }
    // Waits up to timeoutMs for the peer to close; returns every byte received.
    std::string waitForClose(int timeoutMs);
    bool accepted() const { return accepted_; }

  private:
    void run();
    int listener_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    std::string data_;
    std::atomic<bool> closed_{false};
    std::atomic<bool> accepted_{false};
    std::atomic<bool> stop_{false};
};

} // namespace testutil
