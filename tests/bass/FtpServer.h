// A minimal passive-mode FTP server on 127.0.0.1 serving one file, for the
// ftp:// test: enough of the protocol for a reading client.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace bass_test {

class FtpServer {
  public:
    FtpServer(std::string name, std::string body);
    ~FtpServer();
    std::string url() const;

  private:
    void serve();
    void session(int fd);
    bool sendFile(int dataListen, size_t from);
    std::string name_, body_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace bass_test
