// Network addresses as the feed reads them: the parts of an http:// or
// https:// address, and the address a reference (a redirect's Location, a
// playlist's entry) leads to from the address it came from (RFC 3986, 5.2,
// as RFC 9110 asks of a Location). Pure functions of untrusted text.
#pragma once

#include <string>

namespace kavbass {

struct NetAddress {
    bool tls = false;       // https
    std::string host;       // a name or an address, IPv6 without its brackets
    std::string port;       // as written, else the scheme's own
    std::string authority;  // host and port as written, for the Host header
    std::string target;     // the path and query, "/" when there is none, blanks encoded
};

// False when text is not an http:// or https:// address (scheme in any case)
// with a host and a port of digits, or holds a control character.
bool parseAddress(const std::string& text, NetAddress& out);

// The absolute address reference leads to from base (itself absolute), its
// fragment left out; reference as it stands when it names its own scheme.
std::string resolveReference(const std::string& base, const std::string& reference);

}  // namespace kavbass
