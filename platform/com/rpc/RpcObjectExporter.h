// What a stub needs from the connection it serves: handing an interface
// pointer that a member returned to the client as a new object id.
#pragma once

#include "RpcFrameWriter.h"

class CRpcObjectExporter {
public:
    // Writes the object id and IID of pItf to results, taking over the
    // caller's reference; a null pointer, or one that cannot be exported, is
    // written as object id 0 (and released).
    virtual void PutInterface(CRpcFrameWriter& results, IUnknown* pItf, REFIID riid) = 0;

protected:
    ~CRpcObjectExporter() = default;
};
