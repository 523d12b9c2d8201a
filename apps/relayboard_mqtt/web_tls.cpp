#include "web_tls.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <QSslCertificate>
#include <QSslCipher>
#include <QSslKey>
#include <QSslSocket>
#include <memory>

#include "settings/settings_files.h"

namespace {

// An encrypted key is refused rather than asked for: the daemon has nobody to ask.
int no_passphrase(char*, int, int, void*) {
  return 0;
}

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Free {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

std::unique_ptr<BIO, BioFree> memory_bio(const std::string& text) {
  return std::unique_ptr<BIO, BioFree>(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

// Ciphers with forward secrecy and authenticated encryption: TLS 1.3's, and TLS 1.2's
// ECDHE with AES-GCM or ChaCha20. Every browser of the last years has them; CBC with
// SHA-1 is left out.
QList<QSslCipher> strong_ciphers() {
  QList<QSslCipher> kept;
  for (const QSslCipher& cipher : QSslConfiguration::supportedCiphers()) {
    const QString name = cipher.name();
    if (name.startsWith("TLS_") ||
        (name.startsWith("ECDHE-") && (name.contains("-GCM-") || name.contains("CHACHA20"))))
      kept.append(cipher);
  }
  return kept;
}

}  // namespace

std::variant<QSslConfiguration, std::string> web_tls_configuration(
    const std::filesystem::path& certificate, const std::filesystem::path& key) {
  const std::string cert_about = "web certificate " + certificate.string();
  const std::string key_about = "web key " + key.string();
  // Read as the broker's TLS files are: bounded, and never waiting on a FIFO.
  const FileText cert_text = read_limited_file(certificate, certificate_file_byte_limit);
  if (!cert_text.text) return cert_about + ": " + cert_text.reason;
  // The key is a secret as the broker's password file is, and refused the same way.
  if (const auto exposure = secret_file_exposure(key)) return key_about + ": " + *exposure;
  const FileText key_text = read_limited_file(key, certificate_file_byte_limit);
  if (!key_text.text) return key_about + ": " + key_text.reason;

  const QList<QSslCertificate> chain =
      QSslCertificate::fromData(QByteArray::fromStdString(*cert_text.text), QSsl::Pem);
  auto cert_bio = memory_bio(*cert_text.text);
  std::unique_ptr<X509, X509Free> x509(
      PEM_read_bio_X509(cert_bio.get(), nullptr, no_passphrase, nullptr));
  if (chain.isEmpty() || chain.first().isNull() || !x509)
    return cert_about + ": not a PEM certificate";
  // Read by OpenSSL itself, so that every key type it takes is taken (Ed25519 too).
  auto key_bio = memory_bio(*key_text.text);
  std::unique_ptr<EVP_PKEY, KeyFree> pkey(
      PEM_read_bio_PrivateKey(key_bio.get(), nullptr, no_passphrase, nullptr));
  if (!pkey) return key_about + ": not a PEM private key without a passphrase";
  if (X509_check_private_key(x509.get(), pkey.get()) != 1)
    return key_about + ": not the key of " + cert_about;
  // The key passes to Qt, which frees it.
  const QSslKey private_key(reinterpret_cast<Qt::HANDLE>(pkey.release()), QSsl::PrivateKey);
  if (private_key.isNull()) return key_about + ": a key type the TLS library does not take";

  QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
  configuration.setLocalCertificateChain(chain);
  configuration.setPrivateKey(private_key);
  configuration.setProtocol(QSsl::TlsV1_2OrLater);
  configuration.setCiphers(strong_ciphers());
  configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
  return configuration;
}
