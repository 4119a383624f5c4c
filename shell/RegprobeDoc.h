// The test document: it holds nothing of its own and refuses to come into
// being while no connection exists.
#pragma once

#include "platform/ui/Document.h"

class CRegprobeDoc : public CDocument {
    DECLARE_DYNAMIC(CRegprobeDoc)

public:
    CRegprobeDoc();
    ~CRegprobeDoc() override;

    BOOL OnNewDocument() override;
    void Serialize(CArchive& ar) override;
};
