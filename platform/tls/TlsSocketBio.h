// The transport under a TLS connection of ours: the connected socket itself,
// read and written without waiting (the caller waits, by its deadline, for
// the event the TLS layer asks for) and never raising SIGPIPE, which
// OpenSSL's own socket transport would on a peer that has gone.
#pragma once

struct bio_st;

// A BIO over hSocket; freeing it leaves the socket open. nullptr when out of
// memory.
bio_st* NewTlsSocketBio(int hSocket);
