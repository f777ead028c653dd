// The OpenSSL entry points the TLS layer uses, bound by name at run time.
//
// Nothing links against OpenSSL: InitSSLInterface (ssllayer.cpp) opens
// libssl.so.3 and libcrypto.so.3 with dlopen and fills gApi with dlsym. Every
// handle is an opaque pointer; only the calls declared here are made. The
// entries are valid while IsSSLloaded() is true. Internal to src/net.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

namespace quorvel::ssl {

using SslPtr = void*;

struct OpenSslApi {
  void* libssl = nullptr;
  void* libcrypto = nullptr;
  // libssl
  const void* (*TLS_client_method)() = nullptr;
  SslPtr (*SSL_CTX_new)(const void*) = nullptr;
  void (*SSL_CTX_free)(SslPtr) = nullptr;
  int (*SSL_CTX_set_cipher_list)(SslPtr, const char*) = nullptr;
  void (*SSL_CTX_set_verify)(SslPtr, int, void*) = nullptr;
  int (*SSL_CTX_set_default_verify_paths)(SslPtr) = nullptr;
  void (*SSL_CTX_set_default_passwd_cb)(SslPtr, int (*)(char*, int, int, void*)) = nullptr;
  void (*SSL_CTX_set_default_passwd_cb_userdata)(SslPtr, void*) = nullptr;
  SslPtr (*SSL_new)(SslPtr) = nullptr;
  void (*SSL_free)(SslPtr) = nullptr;
  int (*SSL_set_fd)(SslPtr, int) = nullptr;
  int (*SSL_connect)(SslPtr) = nullptr;
  int (*SSL_shutdown)(SslPtr) = nullptr;
  int (*SSL_write)(SslPtr, const void*, int) = nullptr;
  int (*SSL_read)(SslPtr, void*, int) = nullptr;
  int (*SSL_get_error)(SslPtr, int) = nullptr;
  int (*SSL_pending)(SslPtr) = nullptr;
  const char* (*SSL_get_version)(SslPtr) = nullptr;
  SslPtr (*SSL_get1_peer_certificate)(SslPtr) = nullptr;
  SslPtr (*SSL_get_current_cipher)(SslPtr) = nullptr;
  const char* (*SSL_CIPHER_get_name)(SslPtr) = nullptr;
  int (*SSL_CIPHER_get_bits)(SslPtr, int*) = nullptr;
  long (*SSL_get_verify_result)(SslPtr) = nullptr;
  long (*SSL_CTX_ctrl)(SslPtr, int, long, void*) = nullptr;
  long (*SSL_ctrl)(SslPtr, int, long, void*) = nullptr;
  SslPtr (*SSL_get0_param)(SslPtr) = nullptr;
  void (*SSL_set_verify)(SslPtr, int, int (*)(int, SslPtr)) = nullptr;
  int (*SSL_set_ex_data)(SslPtr, int, void*) = nullptr;
  void* (*SSL_get_ex_data)(SslPtr, int) = nullptr;
  int (*SSL_get_ex_data_X509_STORE_CTX_idx)() = nullptr;
  // libcrypto
  const char* (*OpenSSL_version)(int) = nullptr;
  unsigned long (*ERR_get_error)() = nullptr;
  void (*ERR_clear_error)() = nullptr;
  void (*ERR_error_string_n)(unsigned long, char*, size_t) = nullptr;
  void (*X509_free)(SslPtr) = nullptr;
  SslPtr (*X509_get_subject_name)(SslPtr) = nullptr;
  SslPtr (*X509_get_issuer_name)(SslPtr) = nullptr;
  char* (*X509_NAME_oneline)(SslPtr, char*, int) = nullptr;
  int (*X509_digest)(SslPtr, SslPtr, unsigned char*, unsigned*) = nullptr;
  SslPtr (*EVP_get_digestbyname)(const char*) = nullptr;
  int (*X509_print)(SslPtr, SslPtr) = nullptr;
  const void* (*BIO_s_mem)() = nullptr;
  SslPtr (*BIO_new)(const void*) = nullptr;
  long (*BIO_ctrl)(SslPtr, int, long, void*) = nullptr;
  int (*BIO_free)(SslPtr) = nullptr;
  SslPtr (*X509_get0_notBefore)(SslPtr) = nullptr;
  SslPtr (*X509_get0_notAfter)(SslPtr) = nullptr;
  int (*ASN1_TIME_to_tm)(SslPtr, std::tm*) = nullptr;
  int (*X509_get_ext_by_NID)(SslPtr, int, int) = nullptr;
  SslPtr (*X509_get_ext)(SslPtr, int) = nullptr;
  int (*X509V3_EXT_print)(SslPtr, SslPtr, unsigned long, int) = nullptr;
  const char* (*X509_verify_cert_error_string)(long) = nullptr;
  int (*X509_VERIFY_PARAM_set1_host)(SslPtr, const char*, size_t) = nullptr;
  int (*X509_VERIFY_PARAM_set1_ip_asc)(SslPtr, const char*) = nullptr;
  void* (*X509_STORE_CTX_get_ex_data)(SslPtr, int) = nullptr;
  int (*X509_STORE_CTX_get_error)(SslPtr) = nullptr;
  int (*X509_STORE_CTX_get_error_depth)(SslPtr) = nullptr;
};

// The bound entry points (all null while the libraries are not loaded).
extern OpenSslApi gApi;

// BIO_ctrl command that hands out a memory BIO's data (BIO_get_mem_data).
inline constexpr int kBioCtrlInfo = 3;

// What a memory BIO holds (empty when nothing).
inline std::string MemoryBioText(SslPtr bio) {
  char* data = nullptr;
  const long n = gApi.BIO_ctrl(bio, kBioCtrlInfo, 0, &data);
  return data && n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

}  // namespace quorvel::ssl
