// Servers of the network stream tests behaving as stations' servers do: live
// MP3 streams that begin anywhere in the file, with ICY titles, at any pace;
// redirects and playlist links are routes of the tests' own HTTP server.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "tests/support/HttpServer.h"

namespace nettest {

using RadioServer = testhttp::HttpServer;
using testhttp::closedPort;
using testhttp::Reply;
using testhttp::Request;

// A live stream as a station's server sends it.
struct LiveStream {
    std::string status = "HTTP/1.0 200 OK";  // or "ICY 200 OK"
    std::string contentType = "audio/mpeg";  // empty: no Content-Type line
    std::string extraHeaders;                // lines, each ending in CR LF
    std::string audio;                       // sent round and round
    size_t offset = 0;                       // the first byte sent
    size_t metaint = 0;                      // a metadata block after so many bytes
    // The title at a second of audio; a block carries it when it changes.
    std::function<std::string(double second)> title;
    double bytesPerSecond = 16000;  // the audio's own rate (128 kbit/s)
    double burstSeconds = 2;        // sent at once, as servers do for a new listener
    // The pace after the burst, as a share of real time, by the seconds since.
    std::function<double(double second)> pace = [](double) { return 1.0; };
    double seconds = 1e9;  // the audio sent in all, then the server closes
};
void serveLive(Reply& reply, const Request& request, const LiveStream& stream);

}  // namespace nettest
