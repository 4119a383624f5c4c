// The configuration file "Regpr.cfg": saved atomically, loaded defensively.
#pragma once

#include <functional>

#include "Connections.h"

constexpr const char* CONFIG_FILE_NAME = "Regpr.cfg";

// Writes the collection to a temporary file beside strPath, flushes it to the
// disk and renames it over strPath. On failure the old file is left as it
// was, FALSE is returned and pstrError (when given) says what failed.
BOOL SaveConnections(CConnections& connections, const CString& strPath,
                     CString* pstrError = nullptr);

// Adds the file's records to the collection. A file that cannot be opened
// adds nothing; a file that ends early or holds a record that cannot be taken
// keeps the records read before. Returns FALSE unless the whole file was
// read; pstrError (when given) then says why, or where the file is damaged.
BOOL LoadConnections(CConnections& connections, const CString& strPath,
                     CString* pstrError = nullptr);

// As LoadConnections; pfnOpened runs once the file has opened, and when it
// returns false nothing is loaded. The collection's load observer sees each
// record.
BOOL LoadConnectionsObserved(CConnections& connections, const CString& strPath, CString* pstrError,
                             const std::function<bool()>& pfnOpened);

// As LoadConnections, but once the file has opened the collection's records
// are removed first: a file that cannot be opened costs no connection.
BOOL ReplaceConnections(CConnections& connections, const CString& strPath,
                        CString* pstrError = nullptr);

// Adds only the record named strName, as the application loads it (a
// Local/DCom record starts or reaches its server and opens its port); the
// file's other records are read past without connecting or starting anything.
// The record, or null with pstrError set when the file cannot be opened, has
// no such record before a damaged one, or the record's server cannot be
// reached.
CConnection* LoadConnection(CConnections& connections, const CString& strPath,
                            const CString& strName, CString* pstrError = nullptr);

// The same three loads from an image of the file held in memory (what
// ConfigImageOf makes of a workspace's records); strSource names it in
// messages, as the path names the file.
BOOL LoadConnections(CConnections& connections, const CByteArray& image, const CString& strSource,
                     CString* pstrError = nullptr);
BOOL LoadConnectionsObserved(CConnections& connections, const CByteArray& image,
                             const CString& strSource, CString* pstrError,
                             const std::function<bool()>& pfnOpened);
CConnection* LoadConnection(CConnections& connections, const CByteArray& image,
                            const CString& strSource, const CString& strName,
                            CString* pstrError = nullptr);
