// The owning holders: every reference and string released exactly once.
#include <gtest/gtest.h>

#include "platform/com/ComPtr.h"

namespace {

// Counts its references; the count is what the tests read.
struct CCounted : IUnknown {
    ULONG m_nRefs = 1;
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_nRefs; }
    ULONG Release() override { return --m_nRefs; }
};

TEST(ComPtr, CopyAddsMoveHandsOver) {
    CCounted obj;
    {
        CComPtr<IUnknown> a(&obj);
        EXPECT_EQ(obj.m_nRefs, 2u);
        CComPtr<IUnknown> b(a);
        EXPECT_EQ(obj.m_nRefs, 3u);
        CComPtr<IUnknown> c(std::move(b));
        EXPECT_EQ(obj.m_nRefs, 3u);
        EXPECT_EQ(b.Get(), nullptr);
        c = a;  // the same object again: one reference each still
        EXPECT_EQ(obj.m_nRefs, 3u);
        c = std::move(a);  // c's old reference goes, a's comes over
        EXPECT_EQ(obj.m_nRefs, 2u);
        EXPECT_EQ(a.Get(), nullptr);
        c = c;  // self-assignment keeps what is held
        EXPECT_EQ(obj.m_nRefs, 2u);
        EXPECT_EQ(c.Get(), &obj);
    }
    EXPECT_EQ(obj.m_nRefs, 1u);
}

TEST(ComPtr, AttachDetachAndReset) {
    CCounted first, second;
    CComPtr<IUnknown> p;
    p.Attach(&first);  // takes the caller's reference
    EXPECT_EQ(first.m_nRefs, 1u);
    p.Attach(&second);  // the first is dropped
    EXPECT_EQ(first.m_nRefs, 0u);
    IUnknown* pRaw = p.Detach();
    EXPECT_EQ(pRaw, &second);
    EXPECT_EQ(second.m_nRefs, 1u);
    EXPECT_EQ(p.Get(), nullptr);

    p = &second;
    EXPECT_EQ(second.m_nRefs, 2u);
    p.Release();
    EXPECT_EQ(second.m_nRefs, 1u);
    p.Release();  // nothing held: nothing happens
    EXPECT_EQ(second.m_nRefs, 1u);
}

TEST(ComPtr, AddressOfReleasesWhatIsHeld) {
    CCounted old, answer;
    CComPtr<IUnknown> p(&old);
    ASSERT_EQ(old.m_nRefs, 2u);
    ASSERT_EQ(answer.QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&p)), S_OK);
    EXPECT_EQ(old.m_nRefs, 1u);
    EXPECT_EQ(p.Get(), &answer);

    CComPtr<IUnknown> q;
    EXPECT_EQ(p.QueryInterface(IID_IUnknown, &q), S_OK);
    EXPECT_EQ(answer.m_nRefs, 3u);
    EXPECT_EQ(p.QueryInterface(IID_IDispatch, &q), E_NOINTERFACE);
    EXPECT_EQ(q.Get(), nullptr);
    EXPECT_EQ(answer.m_nRefs, 2u);
}

TEST(ComBstr, OwnsOneString) {
    CComBSTR a("com1 \xC3\xA9");
    EXPECT_EQ(a.Length(), 6u);
    CComBSTR b(a);  // a copy of its own
    EXPECT_NE(static_cast<BSTR>(b), static_cast<BSTR>(a));
    EXPECT_EQ(b.ToString(), "com1 \xC3\xA9");
    CComBSTR c(std::move(b));
    EXPECT_EQ(static_cast<BSTR>(b), nullptr);
    EXPECT_EQ(c.ToString(), a.ToString());

    BSTR raw = c.Detach();
    EXPECT_EQ(static_cast<BSTR>(c), nullptr);
    c.Attach(raw);
    EXPECT_EQ(static_cast<BSTR>(c), raw);

    // An out parameter through a holder that has a string frees it first;
    // run under the leak checker, a leak here fails the suite.
    BSTR* pOut = &c;
    EXPECT_EQ(static_cast<BSTR>(c), nullptr);
    *pOut = AllocBstr("again");
    EXPECT_EQ(c.ToString(), "again");
    c.Empty();
    EXPECT_EQ(c.Length(), 0u);
    EXPECT_EQ(c.ToString(), "");
}

}  // namespace
