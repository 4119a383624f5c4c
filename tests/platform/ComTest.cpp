#include <gtest/gtest.h>

#include "platform/com/ComApi.h"
#include "platform/com/ComPtr.h"
#include "serialapi/ModbusSerialServer.h"

namespace {

TEST(ComStrings, BstrLengthsAndConversion) {
    const OLECHAR text[] = u"ab\0cd";
    BSTR b = SysAllocStringLen(text, 5);  // embedded terminator kept
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 5u);
    EXPECT_EQ(SysStringByteLen(b), 10u);
    EXPECT_EQ(b[5], u'\0');
    SysFreeString(b);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);

    BSTR e = SysAllocStringLen(nullptr, 3);  // room for three, zeroed
    EXPECT_EQ(SysStringLen(e), 3u);
    EXPECT_EQ(e[0], u'\0');
    SysFreeString(e);

    BSTR u = AllocBstr("com1 \xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(SysStringLen(u), 8u);  // the emoji takes a surrogate pair
    EXPECT_EQ(BstrToString(u), "com1 \xC3\xA9\xF0\x9F\x98\x80");
    SysFreeString(u);

    OLECHAR buf[8];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "host", -1, nullptr, 0), 5);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "host", -1, buf, 8), 5);
    EXPECT_EQ(std::u16string(buf), u"host");
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "too long", -1, buf, 8), 0);
}

TEST(ComArrays, VectorsBoundsAndLocks) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_I2, 3, 4);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(SafeArrayGetDim(psa), 1u);
    EXPECT_EQ(SafeArrayGetElemsize(psa), 2u);
    LONG l = 0, u = 0;
    EXPECT_EQ(SafeArrayGetLBound(psa, 1, &l), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(psa, 1, &u), S_OK);
    EXPECT_EQ(l, 3);
    EXPECT_EQ(u, 6);
    EXPECT_EQ(SafeArrayGetLBound(psa, 2, &l), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(psa, 0, &u), DISP_E_BADINDEX);
    VARTYPE vt = 0;
    EXPECT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
    EXPECT_EQ(vt, VT_I2);

    void* pData = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, &pData), S_OK);
    static_cast<SHORT*>(pData)[3] = -2;
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);  // still accessed
    EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(psa), E_UNEXPECTED);

    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
    EXPECT_EQ(static_cast<SHORT*>(copy->pvData)[3], -2);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);

    SAFEARRAY* empty = SafeArrayCreateVector(VT_UI1, 0, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SafeArrayGetUBound(empty, 1, &u), S_OK);
    EXPECT_EQ(u, -1);
    SafeArrayDestroy(empty);

    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 1}};
    SAFEARRAY* two = SafeArrayCreate(VT_I4, 2, bounds);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(SafeArrayGetDim(two), 2u);
    EXPECT_EQ(SafeArrayGetUBound(two, 1, &u), S_OK);
    EXPECT_EQ(u, 1);
    EXPECT_EQ(SafeArrayGetUBound(two, 2, &u), S_OK);
    EXPECT_EQ(u, 3);
    SafeArrayDestroy(two);

    EXPECT_EQ(SafeArrayCreateVector(VT_DECIMAL, 0, 1), nullptr);
}

// A counted object to see what clearing, copying and holding do to
// references; it answers only for IUnknown.
struct CCounted : IUnknown {
    int nRefs = 1;
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++nRefs; }
    ULONG Release() override { return --nRefs; }
};

TEST(ComVariants, ClearAndCopyOwnWhatTheyHold) {
    CCounted obj;
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
    v.vt = VT_UNKNOWN;
    v.punkVal = &obj;
    obj.AddRef();
    VARIANT c;
    VariantInit(&c);
    EXPECT_EQ(VariantCopy(&c, &v), S_OK);
    EXPECT_EQ(obj.nRefs, 3);
    EXPECT_EQ(VariantClear(&c), S_OK);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(obj.nRefs, 1);
    EXPECT_EQ(v.vt, VT_EMPTY);

    // An array of strings is destroyed with its strings (ASan checks leaks).
    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 2);
    static_cast<BSTR*>(psa->pvData)[0] = AllocBstr("x");
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = psa;
    EXPECT_EQ(VariantCopy(&c, &v), S_OK);
    EXPECT_NE(c.parray, v.parray);
    EXPECT_EQ(BstrToString(static_cast<BSTR*>(c.parray->pvData)[0]), "x");
    VariantClear(&v);
    VariantClear(&c);

    // A reference is not owned.
    SAFEARRAY* owned = SafeArrayCreateVector(VT_UI1, 0, 1);
    v.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    v.pparray = &owned;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(SafeArrayDestroy(owned), S_OK);

    v.vt = 0x0FFF;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
}

TEST(ComInterfaces, MembersSitAtTheirVtablePositions) {
    EXPECT_EQ(VtableSlotOf(&IUnknown::QueryInterface), 0u);
    EXPECT_EQ(VtableSlotOf(&IUnknown::Release), 2u);
    EXPECT_EQ(VtableSlotOf(&IDispatch::Invoke), 6u);
    // The servers' interfaces after them: every member against the slots
    // their proxies use (ProxyStubSlots), the first of each pinned here.
    EXPECT_EQ(VtableSlotOf(&IModbusSerialPort::get_Port), 8u);
    EXPECT_EQ(VtableSlotOf(&IModbusTcpServer::get_Address), 7u);
}

TEST(ComActivation, NeedsInitialisationAndARegistration) {
    const CLSID clsid = {0x12345678, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
    MULTI_QI qi{&IID_IUnknown, nullptr, S_OK};
    EXPECT_EQ(CoCreateInstanceEx(clsid, nullptr, CLSCTX_LOCAL_SERVER, nullptr, 1, &qi),
              CO_E_NOTINITIALIZED);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(CoCreateInstanceEx(clsid, nullptr, CLSCTX_LOCAL_SERVER, nullptr, 1, &qi),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(qi.pItf, nullptr);
    CoUninitialize();
}

TEST(ComPtr, CopyAddsMoveHandsOverAndTheLastHolderReleases) {
    CCounted obj;
    {
        CComPtr<IUnknown> a(&obj);
        CComPtr<IUnknown> b(a);
        EXPECT_EQ(obj.nRefs, 3);
        CComPtr<IUnknown> c(std::move(b));
        EXPECT_EQ(obj.nRefs, 3);
        EXPECT_EQ(b.Get(), nullptr);
        c = std::move(a);  // c's own reference goes, a's comes over
        EXPECT_EQ(obj.nRefs, 2);
        c = c;
        EXPECT_EQ(obj.nRefs, 2);
    }
    EXPECT_EQ(obj.nRefs, 1);
}

TEST(ComPtr, AttachDetachResetAndAddressOf) {
    CCounted first, second;
    CComPtr<IUnknown> p;
    p.Attach(&first);  // takes the caller's reference
    p.Attach(&second);
    EXPECT_EQ(first.nRefs, 0);
    EXPECT_EQ(p.Detach(), &second);
    EXPECT_EQ(second.nRefs, 1);
    p = &second;
    p.Release();
    EXPECT_EQ(second.nRefs, 1);
    // An out parameter through a holder that is not empty: the old reference
    // is released, not leaked.
    p = &first;
    ASSERT_EQ(first.nRefs, 1);
    ASSERT_EQ(second.QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&p)), S_OK);
    EXPECT_EQ(first.nRefs, 0);
    EXPECT_EQ(p.Get(), &second);
}

TEST(ComBstr, OwnsOneCopyAndFreesBeforeAnOutParameter) {
    CComBSTR a("com1 \xC3\xA9");
    CComBSTR b(a);
    EXPECT_NE(static_cast<BSTR>(b), static_cast<BSTR>(a));
    EXPECT_EQ(b.ToString(), "com1 \xC3\xA9");
    CComBSTR c(std::move(b));
    EXPECT_EQ(static_cast<BSTR>(b), nullptr);
    // Under the leak checker a string not freed here fails the suite.
    *&c = AllocBstr("again");
    EXPECT_EQ(c.ToString(), "again");
    c.Attach(c.Detach());
    EXPECT_EQ(c.Length(), 5u);
}

}  // namespace
