// Objects stored into memory as a document stores them.
#pragma once

#include "platform/Archive.h"

template <typename T>
CByteArray Stored(T& object) {
    CMemFile file;
    CArchive ar(&file, CArchive::store);
    object.Serialize(ar);
    ar.Close();
    return file.GetData();
}
