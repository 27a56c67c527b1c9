/*
 * The check of a TLS server's certificate, made by the client itself after
 * the handshake: the chain to a root Windows trusts (CertGetCertificateChain,
 * with the certificates the server sent), then the SSL policy with the
 * host name (CertVerifyCertificateChainPolicy). Revocation is not checked,
 * as Schannel does not by default: a school's network often cannot reach
 * the authorities' lists. The functions of crypt32 are loaded with the
 * first check, not when the menu starts.
 */
#ifndef KIRO_CERTIFICATE_H
#define KIRO_CERTIFICATE_H

#include <windows.h>
#include <wincrypt.h>

/* Loads the certificate functions (once); 0, or the reason they are not
   to be had. */
DWORD load_certificate_checks(void);
/* The certificate checked for a server of that name (host name or
   address, without port); 0, or the certificate error (such as
   CERT_E_CHAINING or CERT_E_CN_NO_MATCH). A certificate the chain needs
   and the server did not send is fetched within timeout_ms. */
DWORD verify_certificate(PCCERT_CONTEXT certificate, const char *server_name, int timeout_ms);
/* Frees a certificate the system handed out. */
void release_certificate(PCCERT_CONTEXT certificate);

#endif
