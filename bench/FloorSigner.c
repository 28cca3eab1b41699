/* The floor for a signing session: the least a program can do to sign with
 * the user's key. Opens the NSS database under $HOME, finds the certificate
 * by nickname and its private key, and makes COUNT SHA-256 RSA signatures of
 * 1 KiB. Prints the microseconds spent in the signing loop.
 *
 * With "tokens" it also does what any host that offers token certificates
 * must do before it can choose: loads p11-kit's proxy (the system's PKCS#11
 * modules) and lists the certificates of every slot.
 *
 *   tessera-floor-signer NICKNAME [COUNT [tokens]] */
#include <cert.h>
#include <nss.h>
#include <pk11pub.h>
#include <secmod.h>
#include <secoid.h>
#include <cryptohi.h>
#include <keyhi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const int count = argc > 2 ? atoi(argv[2]) : 1;
    const char* home = getenv("HOME");
    char db[4096];
    snprintf(db, sizeof db, "sql:%s/.pki/nssdb", home != NULL ? home : "");
    if (NSS_Initialize(db, "", "", SECMOD_DB, NSS_INIT_READONLY) != SECSuccess)
        return 1;
    SECMODModule* proxy = NULL;
    if (argc > 3 && strcmp(argv[3], "tokens") == 0) {
        char spec[] = "library=" TESSERA_P11KIT_PROXY " name=\"p11-kit-proxy\"";
        proxy = SECMOD_LoadUserModule(spec, NULL, PR_FALSE);
        PK11SlotList* slots = PK11_GetAllTokens(CKM_INVALID_MECHANISM, PR_FALSE, PR_FALSE, NULL);
        for (PK11SlotListElement* e = slots != NULL ? slots->head : NULL; e != NULL; e = e->next) {
            CERTCertList* certs = PK11_IsPresent(e->slot) ? PK11_ListCertsInSlot(e->slot) : NULL;
            if (certs != NULL)
                CERT_DestroyCertList(certs);
        }
        if (slots != NULL)
            PK11_FreeSlotList(slots);
    }
    CERTCertificate* cert = PK11_FindCertFromNickname(argv[1], NULL);
    SECKEYPrivateKey* key = cert != NULL ? PK11_FindKeyByAnyCert(cert, NULL) : NULL;
    if (key == NULL)
        return 1;
    unsigned char data[1024];
    memset(data, 'a', sizeof data);
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (int i = 0; i < count; ++i) {
        SECItem signature = {siBuffer, NULL, 0};
        if (SEC_SignData(&signature, data, sizeof data, key, SEC_OID_PKCS1_SHA256_WITH_RSA_ENCRYPTION) != SECSuccess)
            return 1;
        SECITEM_FreeItem(&signature, PR_FALSE);
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    printf("%.0f\n", (end.tv_sec - start.tv_sec) * 1e6 + (end.tv_nsec - start.tv_nsec) / 1e3);
    SECKEY_DestroyPrivateKey(key);
    CERT_DestroyCertificate(cert);
    if (proxy != NULL) {
        SECMOD_UnloadUserModule(proxy);
        SECMOD_DestroyModule(proxy);
    }
    NSS_Shutdown();
    return 0;
}
