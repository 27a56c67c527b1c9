/*
 * Test certificate authorities (see authority.h). The keys and
 * certificates are made by openssl through run_unix; the certificate is
 * read back, decoded from PEM with CryptStringToBinaryA and put into the
 * Root store of the local machine with CertAddEncodedCertificateToStore,
 * which keeps it in the registry under its thumbprint.
 */
#include "authority.h"
#include "driver.h"

#include <windows.h>
#include <wincrypt.h>

#include <stdio.h>
#include <vector>

static std::string quoted_unix(const std::string &windows)
{
    return "'" + unix_path(windows) + "'";
}

bool make_authority(const std::string &dir, const std::string &name)
{
    char subject[128];
    snprintf(subject, sizeof subject, "/O=KIRO test/CN=%s %lu-%lu", name.c_str(),
             GetCurrentProcessId(), GetTickCount());
    std::string base = dir + "\\" + name;
    return run_unix("openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj '" +
                    std::string(subject) + "' -addext basicConstraints=critical,CA:TRUE" +
                    " -addext keyUsage=critical,keyCertSign,cRLSign -keyout " +
                    quoted_unix(base + ".key") + " -out " + quoted_unix(base + ".pem") +
                    " >/dev/null 2>&1") == 0;
}

bool issue_certificate(const std::string &dir, const std::string &authority,
                       const std::string &name, const std::string &alternative_names)
{
    std::string base = dir + "\\" + name;
    std::string signer = dir + "\\" + authority;
    std::string extensions = base + ".ext";
    FILE *f = fopen(extensions.c_str(), "wb");
    if (!f)
        return false;
    fprintf(f, "subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n",
            alternative_names.c_str());
    fclose(f);
    return run_unix("openssl req -newkey rsa:2048 -nodes -sha256 -subj '/O=KIRO test/CN=" + name +
                    "' -keyout " + quoted_unix(base + ".key") + " -out " +
                    quoted_unix(base + ".csr") + " >/dev/null 2>&1 && openssl x509 -req -in " +
                    quoted_unix(base + ".csr") + " -CA " + quoted_unix(signer + ".pem") +
                    " -CAkey " + quoted_unix(signer + ".key") + " -set_serial " +
                    std::to_string(GetTickCount()) + " -days 2 -sha256 -extfile " +
                    quoted_unix(extensions) + " -out " + quoted_unix(base + ".pem") +
                    " >/dev/null 2>&1") == 0;
}

static HCERTSTORE open_root_store(void)
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
}

std::string trust_authority(const std::string &certificate_pem)
{
    std::string pem;
    FILE *f = fopen(certificate_pem.c_str(), "rb");
    if (!f)
        return "";
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        pem.append(chunk, n);
    fclose(f);
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), (DWORD)pem.size(), CRYPT_STRING_BASE64HEADER, NULL,
                              &size, NULL, NULL))
        return "";
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.c_str(), (DWORD)pem.size(), CRYPT_STRING_BASE64HEADER, der.data(),
                              &size, NULL, NULL))
        return "";
    HCERTSTORE store = open_root_store();
    if (!store)
        return "";
    PCCERT_CONTEXT added = NULL;
    std::string thumbprint;
    if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
        BYTE hash[20];
        DWORD length = sizeof hash;
        if (CertGetCertificateContextProperty(added, CERT_SHA1_HASH_PROP_ID, hash, &length)) {
            for (DWORD i = 0; i < length; i++) {
                char hex[3];
                snprintf(hex, sizeof hex, "%02X", hash[i]);
                thumbprint += hex;
            }
        }
        CertFreeCertificateContext(added);
    }
    CertCloseStore(store, 0);
    return thumbprint;
}

bool distrust_authority(const std::string &thumbprint)
{
    if (thumbprint.size() != 40)
        return false;
    BYTE hash[20];
    for (int i = 0; i < 20; i++) {
        unsigned int byte = 0;
        if (sscanf(thumbprint.c_str() + 2 * i, "%2X", &byte) != 1)
            return false;
        hash[i] = (BYTE)byte;
    }
    CRYPT_HASH_BLOB blob = { 20, hash };
    HCERTSTORE store = open_root_store();
    if (store) {
        PCCERT_CONTEXT found =
            CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, NULL);
        if (found)
            CertDeleteCertificateFromStore(found);  /* frees found */
        CertCloseStore(store, 0);
    }
    /* Wine's Root store answers the deletion from a copy of its own and
       keeps the certificate in the registry, where the store keeps each
       certificate under its thumbprint: removed there as well. */
    std::string key = "Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + thumbprint;
    LONG status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}
