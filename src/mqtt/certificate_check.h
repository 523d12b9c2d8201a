#pragma once

#include <string>

struct mosquitto;

// What the last check of the broker's certificate chain found.
struct CertificateWatch {
  std::string host;     // the name the broker was reached by
  std::string refusal;  // why the chain was refused; empty after an accepted one
};

// Hands the client a TLS context of its own, made before its first connection: OpenSSL
// is told the broker's name and checks it, and each check of the broker's chain is
// watched (libmosquitto alone says only "A TLS error occurred" for any refused
// certificate). The library applies its own settings to it (the CA file, the TLS
// versions). The library's code. The watch must outlive the client.
int watch_certificate_checks(mosquitto* client, CertificateWatch& watch);

// What an OpenSSL verification error means for the broker's certificate (`depth` 0) or
// another of its chain, in the operator's terms, with OpenSSL's own words after it.
std::string certificate_refusal(int error, int depth, const std::string& host);
