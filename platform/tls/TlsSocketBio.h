// The transport under a TLS connection of ours: the connected socket itself,
// never raising SIGPIPE, which OpenSSL's own socket transport would on a
// peer that has gone. Sends never wait; reads wait only when the owner lets
// them (a blocking socket with a kernel time-out set), and otherwise the
// caller waits, by its deadline, for the event the TLS layer asks for.
#pragma once

struct bio_st;

// A BIO over hSocket; freeing it leaves the socket open. nullptr when out of
// memory.
bio_st* NewTlsSocketBio(int hSocket);
// Whether reads may block in the kernel (false at first).
void SetTlsSocketBioWaits(bio_st* pBio, bool bWaitInReads);
