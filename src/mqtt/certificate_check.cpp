#include "mqtt/certificate_check.h"

#include <mosquitto.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace {

// Takes OpenSSL's place in calling its own chain check, to see the error it leaves.
int verify_chain(X509_STORE_CTX* store, void* argument) {
  auto& watch = *static_cast<CertificateWatch*>(argument);
  // OpenSSL's verdict stands, the broker's name included: the library's own callback
  // would also check the name, but finds its client only in a context it made itself.
  X509_STORE_CTX_set_verify_cb(store, [](int accepted, X509_STORE_CTX*) { return accepted; });
  const int accepted = X509_verify_cert(store);
  const int error = X509_STORE_CTX_get_error(store);
  watch.refusal =
      accepted == 1 || error == X509_V_OK
          ? std::string()
          : certificate_refusal(error, X509_STORE_CTX_get_error_depth(store), watch.host);
  return accepted;
}

}  // namespace

std::string certificate_refusal(int error, int depth, const std::string& host) {
  const std::string which =
      depth == 0 ? "the broker's certificate" : "a certificate of the broker's chain";
  std::string meaning;
  switch (error) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      meaning = "the broker's certificate is not made out to " + host;
      break;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      meaning = "the broker's certificate is from an authority that the CA file does not hold";
      break;
    case X509_V_ERR_CERT_HAS_EXPIRED:
      meaning = which + " has expired";
      break;
    case X509_V_ERR_CERT_NOT_YET_VALID:
      meaning = which + " is not valid yet";
      break;
    default:
      meaning = which + " was refused";
  }
  return meaning + " (" + X509_verify_cert_error_string(error) + ")";
}

int watch_certificate_checks(mosquitto* client, CertificateWatch& watch) {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (!context) return MOSQ_ERR_TLS;
  X509_VERIFY_PARAM* parameters = SSL_CTX_get0_param(context);
  if (X509_VERIFY_PARAM_set1_ip_asc(parameters, watch.host.c_str()) != 1) {
    X509_VERIFY_PARAM_set1_host(parameters, watch.host.c_str(), 0);
  }
  SSL_CTX_set_cert_verify_callback(context, verify_chain, &watch);
  const int code = mosquitto_void_option(client, MOSQ_OPT_SSL_CTX, context);
  // The client keeps a reference of its own.
  SSL_CTX_free(context);
  return code;
}
