#include <gtest/gtest.h>

#include "platform/Archive.h"

namespace {

CByteArray Store(const CString& s) {
    CMemFile file;
    CArchive ar(&file, CArchive::store);
    ar << s;
    ar.Close();
    return file.GetData();
}

CString Load(const CByteArray& bytes) {
    CMemFile file(bytes);
    CArchive ar(&file, CArchive::load);
    CString s;
    ar >> s;
    return s;
}

TEST(Archive, CountedStringPrefixes) {
    struct Case {
        size_t n;
        CByteArray prefix;
    };
    const Case cases[] = {
        {0, {0x00}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {65533, {0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const Case& c : cases) {
        CString s(c.n, 'x');
        if (c.n > 0) {
            s[c.n - 1] = 'z';
        }
        CByteArray bytes = Store(s);
        ASSERT_EQ(bytes.size(), c.prefix.size() + c.n) << c.n;
        EXPECT_EQ(CByteArray(bytes.begin(), bytes.begin() + c.prefix.size()), c.prefix) << c.n;
        EXPECT_EQ(Load(bytes), s) << c.n;
    }
}

TEST(Archive, Utf16FormIsReadAsUtf8) {
    // 0xFF, marker 0xFFFE, then 3 code units: "A", "é", and a surrogate pair.
    CByteArray bytes{0xFF, 0xFE, 0xFF, 0x04, 'A', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE};
    EXPECT_EQ(Load(bytes), "A\xC3\xA9\xF0\x9F\x98\x80");
    // The long form after the marker.
    CByteArray longForm{0xFF, 0xFE, 0xFF, 0xFF, 0x01, 0x01};
    for (int i = 0; i < 257; ++i) {
        longForm.push_back('b');
        longForm.push_back(0);
    }
    EXPECT_EQ(Load(longForm), CString(257, 'b'));
}

TEST(Archive, ShortDataEndsAsEndOfFile) {
    const CByteArray cases[] = {
        {},
        {0x05, 'a', 'b'},
        {0xFF, 0x10},
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},  // claims 4 GiB, holds 1 byte
        {0xFF, 0xFE, 0xFF, 0x02, 'a', 0},
    };
    for (const CByteArray& bytes : cases) {
        try {
            Load(bytes);
            ADD_FAILURE() << "no exception for " << bytes.size() << " bytes";
        } catch (CArchiveException* e) {
            EXPECT_EQ(e->m_cause, CArchiveException::endOfFile);
            e->Delete();
        }
    }
}

TEST(Archive, IntegersAreLittleEndianFixedWidth) {
    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        ar << BYTE(0x01) << WORD(0x0203) << DWORD(0x04050607) << int(-2) << 1.5f << -0.25
           << ULONGLONG(0x08090A0B0C0D0E0F);
        ar.Close();
    }
    const CByteArray expected{0x01, 0x03, 0x02, 0x07, 0x06, 0x05, 0x04, 0xFE, 0xFF, 0xFF, 0xFF,
                              0x00, 0x00, 0xC0, 0x3F, 0,    0,    0,    0,    0,    0,    0xD0,
                              0xBF, 0x0F, 0x0E, 0x0D, 0x0C, 0x0B, 0x0A, 0x09, 0x08};
    EXPECT_EQ(file.GetData(), expected);
    CMemFile in(expected);
    CArchive ar(&in, CArchive::load);
    BYTE b;
    WORD w;
    DWORD dw;
    int i;
    float f;
    double d;
    ULONGLONG q;
    ar >> b >> w >> dw >> i >> f >> d >> q;
    EXPECT_EQ(b, 1);
    EXPECT_EQ(w, 0x0203);
    EXPECT_EQ(dw, 0x04050607u);
    EXPECT_EQ(i, -2);
    EXPECT_EQ(f, 1.5f);
    EXPECT_EQ(d, -0.25);
    EXPECT_EQ(q, 0x08090A0B0C0D0E0Full);
}

}  // namespace
