#pragma once

#include <QSslConfiguration>
#include <filesystem>
#include <string>
#include <variant>

// The page's TLS: its certificate (with its chain) and the key, read and checked as they
// are started with, so that a fault is told at the start instead of failing every
// handshake in silence. TLS 1.2 or later, with forward secrecy and AEAD ciphers only.
// Why not, as "web certificate PATH: why" or "web key PATH: why".
std::variant<QSslConfiguration, std::string> web_tls_configuration(
    const std::filesystem::path& certificate, const std::filesystem::path& key);
