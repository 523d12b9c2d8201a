#pragma once

#include <string>

struct mosquitto;

// What the last check of the broker's certificate chain found.
struct CertificateWatch {
  std::string host;                  // the name the broker was reached by
  std::string refusal;               // why the chain was refused; empty after an accepted one
  std::string last_refusal;          // the same of the last check seen, of any attempt
  const void* connection = nullptr;  // the TLS connection watched; none before each attempt
  bool context_watched = false;      // the library's context, which later connections share
};

// Once the client has made a TLS connection, tells OpenSSL the broker's name and
// watches each check of the broker's chain: libmosquitto alone says only "A TLS error
// occurred" for any refused certificate. The library makes its TLS context with its
// first connection, which may be checked within the same call: that connection goes
// unwatched. Nothing without TLS. The watch must outlive the client.
void watch_certificate_checks(mosquitto* client, CertificateWatch& watch);

// What an OpenSSL verification error means for the broker's certificate (`depth` 0) or
// another of its chain, in the operator's terms, with OpenSSL's own words after it.
std::string certificate_refusal(int error, int depth, const std::string& host);
