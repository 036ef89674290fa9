#include "TlsFront.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "Processes.h"

namespace nettest {

namespace fs = std::filesystem;

namespace {

void runOrThrow(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

// An authority (name.pem, name.key) and a certificate for 127.0.0.1 and
// localhost signed by it (name-leaf.pem, name-leaf.key), in dir.
void makeAuthorityAndLeaf(const fs::path& dir, const std::string& name) {
    const std::string d = "'" + dir.string() + "/";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    runOrThrow("openssl req -x509" + ec + " -keyout " + d + name + ".key' -out " + d + name +
               ".pem' -days 3 -subj '/CN=KAV test " + name +
               "' -addext basicConstraints=critical,CA:TRUE"
               " -addext keyUsage=critical,keyCertSign,cRLSign");
    runOrThrow("openssl req" + ec + " -keyout " + d + name + "-leaf.key' -out " + d + name +
               "-leaf.csr' -subj '/CN=127.0.0.1'");
    std::ofstream(dir / (name + "-leaf.ext"))
        << "subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
           "extendedKeyUsage=serverAuth\n";
    runOrThrow("openssl x509 -req -in " + d + name + "-leaf.csr' -CA " + d + name +
               ".pem' -CAkey " + d + name + ".key' -CAcreateserial -days 3 -out " + d + name +
               "-leaf.pem' -extfile " + d + name + "-leaf.ext'");
}

bool sendAll(gnutls_session_t s, const char* data, size_t size, const std::atomic<bool>& stop) {
    while (size > 0 && !stop.load()) {
        const ssize_t n = gnutls_record_send(s, data, size);
        if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return size == 0;
}

bool sendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Passes bytes both ways until either side closes or the front stops.
void relay(gnutls_session_t s, int client, int backend, const std::atomic<bool>& stop) {
    char buf[16384];
    while (!stop.load()) {
        pollfd p[2] = {{client, POLLIN, 0}, {backend, POLLIN, 0}};
        const bool pending = gnutls_record_check_pending(s) > 0;
        if (!pending && ::poll(p, 2, 50) <= 0) continue;
        if (pending || (p[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = gnutls_record_recv(s, buf, sizeof buf);
            if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED) continue;
            if (n <= 0 || !sendAll(backend, buf, static_cast<size_t>(n))) return;
        }
        if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(backend, buf, sizeof buf, 0);
            if (n <= 0) {
                gnutls_bye(s, GNUTLS_SHUT_WR);
                return;
            }
            if (!sendAll(s, buf, static_cast<size_t>(n), stop)) return;
        }
    }
}

}  // namespace

const TestCertificates& Certificates() {
    static const TestCertificates* made = [] {
        const fs::path dir = fs::temp_directory_path() / ("kav-tls-" + std::to_string(getpid()));
        fs::create_directories(dir);
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(fs::temp_directory_path() / ("kav-tls-" + std::to_string(getpid())),
                           ignored);
        });
        makeAuthorityAndLeaf(dir, "trusted");
        makeAuthorityAndLeaf(dir, "stranger");
        auto* c = new TestCertificates;
        c->trustedAuthority = (dir / "trusted.pem").string();
        c->cert = (dir / "trusted-leaf.pem").string();
        c->key = (dir / "trusted-leaf.key").string();
        c->strangerCert = (dir / "stranger-leaf.pem").string();
        c->strangerKey = (dir / "stranger-leaf.key").string();
        return c;
    }();
    return *made;
}

TlsFront::TlsFront(int backendPort, const std::string& certFile, const std::string& keyFile)
    : backendPort_(backendPort) {
    gnutls_global_init();
    gnutls_certificate_credentials_t cred = nullptr;
    gnutls_certificate_allocate_credentials(&cred);
    if (gnutls_certificate_set_x509_key_file(cred, certFile.c_str(), keyFile.c_str(),
                                             GNUTLS_X509_FMT_PEM) < 0)
        throw std::runtime_error("cannot load " + certFile);
    credentials_ = cred;
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listenFd_, 16) != 0)
        throw std::runtime_error("cannot listen");
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

TlsFront::~TlsFront() {
    stopping_.store(true);
    acceptThread_.join();
    for (auto& t : workers_) t.join();
    ::close(listenFd_);
    gnutls_certificate_free_credentials(
        static_cast<gnutls_certificate_credentials_t>(credentials_));
    gnutls_global_deinit();
}

std::string TlsFront::url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
}

void TlsFront::acceptLoop() {
    while (!stopping_.load()) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) workers_.emplace_back([this, fd] { serve(fd); });
    }
}

void TlsFront::serve(int fd) {
    // Blocking calls come back at least once a second to see whether to stop.
    timeval second{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &second, sizeof second);
    gnutls_session_t s = nullptr;
    gnutls_init(&s, GNUTLS_SERVER);
    gnutls_set_default_priority(s);
    gnutls_credentials_set(s, GNUTLS_CRD_CERTIFICATE, credentials_);
    gnutls_certificate_server_set_request(s, GNUTLS_CERT_IGNORE);
    gnutls_transport_set_int(s, fd);
    gnutls_handshake_set_timeout(s, 5000);
    int rc;
    do {
        rc = gnutls_handshake(s);
    } while (rc < 0 && !gnutls_error_is_fatal(rc) && !stopping_.load());
    if (rc < 0) {
        ++refused_;
    } else if (const int backend = connectTo(backendPort_); backend >= 0) {
        relay(s, fd, backend, stopping_);
        ::close(backend);
    }
    gnutls_deinit(s);
    ::close(fd);
}

}  // namespace nettest
