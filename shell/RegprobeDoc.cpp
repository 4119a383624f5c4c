#include "RegprobeDoc.h"

#include "connections/Connections.h"
#include "platform/ui/MessageBox.h"

IMPLEMENT_DYNAMIC(CRegprobeDoc, CDocument)

CRegprobeDoc::CRegprobeDoc() = default;

CRegprobeDoc::~CRegprobeDoc() = default;

BOOL CRegprobeDoc::OnNewDocument() {
    if (!CDocument::OnNewDocument()) {
        return FALSE;
    }
    if (theConnections.GetCount() >= 1) {
        return TRUE;
    }
    AfxMessageBox("There are no connections to open new document", MB_OK);
    return FALSE;
}

void CRegprobeDoc::Serialize(CArchive&) {
    // The document keeps nothing; every setting lives in its view.
}
