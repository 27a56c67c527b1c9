/*
 * The check of a server's certificate (see certificate.h).
 */
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <windows.h>
#include <wincrypt.h>

#include "net/certificate.h"

#include <string.h>

static decltype(&CertGetCertificateChain) g_get_chain = NULL;
static decltype(&CertVerifyCertificateChainPolicy) g_verify_policy = NULL;
static decltype(&CertFreeCertificateChain) g_free_chain = NULL;
static decltype(&CertFreeCertificateContext) g_free_certificate = NULL;

/* The uses a server's certificate must allow, any one of them. */
static LPSTR SERVER_USAGES[] = { (LPSTR)szOID_PKIX_KP_SERVER_AUTH, (LPSTR)szOID_SERVER_GATED_CRYPTO,
                                 (LPSTR)szOID_SGC_NETSCAPE };

template <typename Function>
static bool find_function(HMODULE module, const char *name, Function *found)
{
    FARPROC address = module ? GetProcAddress(module, name) : NULL;
    *found = reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(address));
    return address != NULL;
}

DWORD load_certificate_checks(void)
{
    if (g_free_certificate)
        return 0;
    HMODULE crypt32 = LoadLibraryA("crypt32.dll");
    bool found = find_function(crypt32, "CertGetCertificateChain", &g_get_chain)
                 && find_function(crypt32, "CertVerifyCertificateChainPolicy", &g_verify_policy)
                 && find_function(crypt32, "CertFreeCertificateChain", &g_free_chain);
    DWORD error = GetLastError();
    /* The last one marks the set as loaded. */
    if (found && find_function(crypt32, "CertFreeCertificateContext", &g_free_certificate))
        return 0;
    return error ? error : (DWORD)SEC_E_SECPKG_NOT_FOUND;
}

/* What the chain engine can find wrong with a chain, and the certificate
   error it is reported as, the gravest first. */
struct ChainFault {
    DWORD mark;
    DWORD error;
};
static const ChainFault CHAIN_FAULTS[] = {
    { CERT_TRUST_IS_REVOKED, (DWORD)CRYPT_E_REVOKED },
    { CERT_TRUST_IS_PARTIAL_CHAIN, (DWORD)CERT_E_CHAINING },
    { CERT_TRUST_IS_UNTRUSTED_ROOT, (DWORD)CERT_E_UNTRUSTEDROOT },
    { CERT_TRUST_IS_NOT_SIGNATURE_VALID, (DWORD)TRUST_E_CERT_SIGNATURE },
    { CERT_TRUST_IS_NOT_TIME_VALID, (DWORD)CERT_E_EXPIRED },
    { CERT_TRUST_IS_NOT_VALID_FOR_USAGE, (DWORD)CERT_E_WRONG_USAGE },
    { CERT_TRUST_IS_CYCLIC, (DWORD)CERT_E_CHAINING },
};

/* The certificate error for what the chain engine found wrong with a
   chain, 0 when nothing. The SSL policy below should say the same, but
   Wine's lets a chain that ends in an unknown authority pass. */
static DWORD chain_error(PCCERT_CHAIN_CONTEXT chain)
{
    DWORD status = chain->TrustStatus.dwErrorStatus;
    if (status == CERT_TRUST_NO_ERROR)
        return 0;
    for (const ChainFault &fault : CHAIN_FAULTS)
        if (status & fault.mark)
            return fault.error;
    /* Revocation is not asked for; its "unknown" marks are no verdict. */
    if ((status & ~(DWORD)(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION)) == 0)
        return 0;
    return (DWORD)CERT_E_CHAINING;
}

/* The SSL policy for a server of that name; 0, or the certificate error. */
static DWORD policy_error(PCCERT_CHAIN_CONTEXT chain, const char *server_name)
{
    WCHAR name[256];
    if (MultiByteToWideChar(CP_ACP, 0, server_name, -1, name, 256) == 0)
        return (DWORD)CERT_E_CN_NO_MATCH;
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl;
    memset(&ssl, 0, sizeof ssl);
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = name;
    CERT_CHAIN_POLICY_PARA policy;
    memset(&policy, 0, sizeof policy);
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS verdict;
    memset(&verdict, 0, sizeof verdict);
    verdict.cbSize = sizeof verdict;
    if (!g_verify_policy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict))
        return GetLastError() ? GetLastError() : (DWORD)CERT_E_CHAINING;
    return verdict.dwError;
}

DWORD verify_certificate(PCCERT_CONTEXT certificate, const char *server_name, int timeout_ms)
{
    CERT_CHAIN_PARA chain_para;
    memset(&chain_para, 0, sizeof chain_para);
    chain_para.cbSize = sizeof chain_para;
    chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chain_para.RequestedUsage.Usage.cUsageIdentifier = sizeof SERVER_USAGES / sizeof SERVER_USAGES[0];
    chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = SERVER_USAGES;
    /* Windows may fetch an intermediate certificate the server left out
       from the address its certificate names: each such fetch waits no
       longer than the connection's time-out. */
    chain_para.dwUrlRetrievalTimeout = (DWORD)timeout_ms;
    /* The certificates the server sent (its store) help to build the
       chain; the trusted roots are the system's. */
    PCCERT_CHAIN_CONTEXT chain = NULL;
    if (!g_get_chain(NULL, certificate, NULL, certificate->hCertStore, &chain_para, 0, NULL, &chain))
        return GetLastError() ? GetLastError() : (DWORD)CERT_E_CHAINING;
    DWORD result = chain_error(chain);
    if (result == 0)
        result = policy_error(chain, server_name);
    g_free_chain(chain);
    return result;
}

void release_certificate(PCCERT_CONTEXT certificate)
{
    g_free_certificate(certificate);
}
