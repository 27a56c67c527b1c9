/*
 * Test certificate authorities for the TLS tests and the benchmark: an
 * authority and server certificates made with openssl on the machine
 * underneath, and the authority trusted in this Wine prefix alone (the
 * local-machine Root store, which Wine's certificate checks read) for as
 * long as a test needs it, then removed again by its thumbprint. The
 * machine's own trust store is never touched.
 */
#ifndef KIRO_AUTHORITY_H
#define KIRO_AUTHORITY_H

#include <string>

/* Makes a self-signed authority in folder dir (a Windows path): name.pem
   and name.key. Its subject carries this process's id and the time, so
   authorities of tests running side by side never share a name. */
bool make_authority(const std::string &dir, const std::string &name);
/* Issues a server certificate signed by the authority of that name in
   dir: name.pem and name.key, for the subject alternative names given in
   openssl's form ("DNS:127.0.0.1,IP:127.0.0.1"). */
bool issue_certificate(const std::string &dir, const std::string &authority,
                       const std::string &name, const std::string &alternative_names);
/* Adds the PEM certificate to the prefix's local-machine Root store; its
   SHA-1 thumbprint (hex), or "" on failure. */
std::string trust_authority(const std::string &certificate_pem);
/* Removes the certificate with that thumbprint from the store again. */
bool distrust_authority(const std::string &thumbprint);

#endif
