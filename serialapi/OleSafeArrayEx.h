// Byte arrays to and from one-dimensional safe arrays inside a VARIANT.
#pragma once

#include "platform/com/OleAuto.h"

class COleSafeArrayEx : public COleSafeArray {
public:
    static constexpr const char* RUNTIME_TYPE_NAME = "COleSafeArrayEx";

    // Fills pTarget (this object's VARIANT when null) with a new 1-D array,
    // lower bound 0, one element per byte. Element types VT_UI1, VT_I2, VT_I4.
    BOOL FromByteArray(const CByteArray& bytes, VARIANT* pTarget = nullptr,
                       VARTYPE vtElement = VT_UI1);
    // Replaces bytes with the low 8 bits of each element of the 1-D VT_UI1,
    // VT_I2 or VT_I4 array held by pSource (this object's VARIANT when null),
    // also when the array or the variant is held by reference.
    BOOL ToByteArray(CByteArray& bytes, const VARIANT* pSource = nullptr);
    // The array behind a variant, or null when it holds none.
    static SAFEARRAY* GetSafeArrayPtr(const VARIANT* pVariant);
};
