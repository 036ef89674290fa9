// HTTPS in front of a plain server of the tests: a TLS server on 127.0.0.1
// (GnuTLS) that shows a certificate the tests made, then passes the bytes
// both ways to the plain server's port. And the certificates: an authority
// the tests trust (through SSL_CERT_FILE), one they do not, and a
// certificate for 127.0.0.1 from each.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

struct TestCertificates {
    std::string trustedAuthority;           // the CA file a test hands over as SSL_CERT_FILE
    std::string cert, key;                  // 127.0.0.1 and localhost, signed by that authority
    std::string strangerCert, strangerKey;  // the same names, signed by another
};
// Made once per process by openssl in a temporary folder.
const TestCertificates& Certificates();

class TlsFront {
  public:
    TlsFront(int backendPort, const std::string& certFile, const std::string& keyFile);
    ~TlsFront();
    TlsFront(const TlsFront&) = delete;
    TlsFront& operator=(const TlsFront&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const;
    // Handshakes the client broke off (a certificate it refused).
    int refused() const { return refused_.load(); }

  private:
    void acceptLoop();
    void serve(int fd);

    int backendPort_;
    void* credentials_ = nullptr;  // gnutls_certificate_credentials_t
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> refused_{0};
    std::thread acceptThread_;
    std::vector<std::thread> workers_;
};

}  // namespace nettest
